# Sorting 500,000 pseudo-random integers (the generator of sort.kiv).
proc main {} {
    set seed 42
    set numbers {}
    for {set i 0} {$i < 500000} {incr i} {
        set hi [expr {$seed / 127773}]
        set seed [expr {16807 * ($seed % 127773) - 2836 * $hi}]
        if {$seed <= 0} {incr seed 2147483647}
        lappend numbers $seed
    }
    set numbers [lsort -integer $numbers]
    puts "[lindex $numbers 0] [lindex $numbers 249999] [lindex $numbers 499999]"
}
main
