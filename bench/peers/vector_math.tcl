proc main {} {
    set n 1000000
    set v [lrepeat $n 0.0]
    for {set r 0} {$r < 50} {incr r} {
        set v [lmap x $v {expr {$x * 2.0 + 1.0}}]
    }
    puts "[expr {int([lindex $v 0] / 1048576.0)}] [expr {int([lindex $v end] / 1048576.0)}] [llength $v]"
}
main
