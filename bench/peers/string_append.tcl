proc main {} {
    set s ""
    for {set k 0} {$k < 1000000} {incr k} {
        append s abc
    }
    puts [string length $s]
}
main
