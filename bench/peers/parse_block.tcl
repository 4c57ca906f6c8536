# Values are tagged pairs {type value}: Tcl has no types of its own to
# match on.
proc match {data} {
    set sum 0
    set marks 0
    set pos 0
    set n [llength $data]
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
            return [list false $sum $marks]
        }
    }
    return [list true $sum $marks]
}

proc main {} {
    set chunk {}
    for {set i 0} {$i < 1000} {incr i} {
        lappend chunk {word key} [list integer $i] {string v}
    }
    lappend chunk {block {{word mark}}}
    set data [concat {*}[lrepeat 333 $chunk]]
    for {set k 0} {$k < 5} {incr k} {
        lassign [match $data] ok sum marks
    }
    puts "$ok [llength $data] $sum $marks"
}
main
