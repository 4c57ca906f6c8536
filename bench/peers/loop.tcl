proc main {} {
    set count 0
    set i 0
    for {set k 0} {$k < 5000000} {incr k} {
        incr i
        if {$i % 3 == 0} {incr count}
    }
    puts $count
}
main
