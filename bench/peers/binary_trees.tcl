proc make_tree {depth} {
    if {$depth == 0} {return [list {} {}]}
    incr depth -1
    return [list [make_tree $depth] [make_tree $depth]]
}

proc count_nodes {node} {
    lassign $node left right
    if {[llength $left] == 0} {return 1}
    return [expr {1 + [count_nodes $left] + [count_nodes $right]}]
}

set total 0
for {set k 0} {$k < 20} {incr k} {
    incr total [count_nodes [make_tree 14]]
}
puts $total
