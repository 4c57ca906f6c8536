proc main {} {
    set size 200
    set total 0
    for {set y 0} {$y < $size} {incr y} {
        set ci [expr {2.0 * $y / $size - 1.0}]
        for {set x 0} {$x < $size} {incr x} {
            set cr [expr {2.0 * $x / $size - 1.5}]
            set zr 0.0
            set zi 0.0
            set i 0
            while {$i < 50 && $zr * $zr + $zi * $zi <= 4.0} {
                set t [expr {$zr * $zr - $zi * $zi + $cr}]
                set zi [expr {2.0 * $zr * $zi + $ci}]
                set zr $t
                incr i
            }
            incr total $i
        }
    }
    puts $total
}
main
