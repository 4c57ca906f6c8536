proc main {} {
    set s [string repeat "a bb ccc dddd eeeee ffffff " 222222]
    set n [regexp -all {[^ ]* } $s]
    puts "[string length $s] $n"
}
main
