proc main {} {
    set m [dict create]
    for {set i 1} {$i <= 200000} {incr i} {
        dict set m $i [expr {$i % 100}]
    }
    set total 0
    for {set i 1} {$i <= 400000} {incr i} {
        if {[dict exists $m $i]} {
            incr total [dict get $m $i]
        }
    }
    puts "[dict size $m] $total"
}
main
