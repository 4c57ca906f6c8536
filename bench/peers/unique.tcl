# x steps by 7919 modulo the prime 500009: every residue comes twice,
# scattered. A dict keeps its keys in the order they were first set, as
# unique keeps its values.
proc main {} {
    set data {}
    set x 0
    for {set k 0} {$k < 1000000} {incr k} {
        set x [expr {($x + 7919) % 500009}]
        lappend data $x
    }
    set seen [dict create]
    foreach v $data {
        dict set seen $v 1
    }
    set u [dict keys $seen]
    puts "[llength $u] [lindex $u 999] [lindex $u end]"
}
main
