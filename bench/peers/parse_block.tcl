# Values are tagged pairs {type value}: Tcl has no types of its own to
# match on.
proc main {} {
    set data {}
    for {set i 1} {$i <= 332667} {incr i} {
        lappend data {word key} [list integer [expr {$i % 1000}]] {string v}
        if {$i % 1000 == 0} {lappend data {block {{word mark}}}}
    }
    set sum 0
    set marks 0
    set pos 0
    set n [llength $data]
    set ok true
    while {$pos < $n} {
        set item [lindex $data $pos]
        if {[lindex $item 0] eq "word" && $pos + 2 < $n
                && [lindex $data [expr {$pos + 1}] 0] eq "integer"
                && [lindex $data [expr {$pos + 2}] 0] eq "string"} {
            incr sum [lindex $data [expr {$pos + 1}] 1]
            incr pos 3
        } elseif {[lindex $item 0] eq "block" && [lindex $item 1] eq {{word mark}}} {
            incr marks
            incr pos
        } else {
            set ok false
            break
        }
    }
    puts "$ok $n $sum $marks"
}
main
