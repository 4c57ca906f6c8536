proc main {} {
    set n 0
    for {set k 0} {$k < 2000000} {incr k} {
        incr n
        if {$n == 1000000} break
    }
    puts $n
}
main
