package require csv
set f [open [file join [file dirname [info script]] .. data table.csv]]
fconfigure $f -encoding utf-8
set rows {}
while {[gets $f line] >= 0} {
    # A quoted field may hold line breaks: read on until the record ends.
    while {![csv::iscomplete $line] && [gets $f more] >= 0} {
        append line "\n" $more
    }
    lappend rows [csv::split $line]
}
close $f
puts "[llength $rows] [llength [lindex $rows end]]"
