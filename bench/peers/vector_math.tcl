proc main {} {
    set n 1000000
    set v [lrepeat $n 0.0]
    for {set r 0} {$r < 10} {incr r} {
        set v [lmap x $v {expr {$x * 2.0 + 1.0}}]
    }
    puts "[expr {int([lindex $v 0])}] [expr {int([lindex $v end])}] [llength $v]"
}
main
