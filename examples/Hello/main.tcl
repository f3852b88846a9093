# The main script of Hello.app. The launcher sets argc and argv: the
# program's own argument count and vector, program name first.
puts "Hello from Tcl [info patchlevel]"
puts "argc = $argc"
set index 0
foreach argument $argv {
    puts "argv($index) = $argument"
    incr index
}
if {"--fail" in [lrange $argv 1 end]} {
    error "asked to fail with --fail"
}
puts "Goodbye"
