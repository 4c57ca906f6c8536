proc plain {a b} {expr {$a + $b}}

proc main {} {
    set n 0
    for {set k 0} {$k < 1000000} {incr k} {set n [plain $n 1]}
    puts $n
}
main
