proc main {} {
    set b {}
    for {set k 0} {$k < 4000000} {incr k} {
        lappend b [string index "a" 0]
    }
    puts [llength $b]
}
main
