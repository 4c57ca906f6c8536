package require json
set f [open [file join [file dirname [info script]] .. data mixed.json]]
fconfigure $f -encoding utf-8
set data [json::json2dict [read $f]]
close $f
puts "[llength $data] [dict get [lindex $data end] id]"
