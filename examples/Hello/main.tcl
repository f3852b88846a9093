# The main script of Hello.app. The launcher sets argc and argv: the
# program's own argument count and vector, program name first. The script
# reaches Objective-C and C through the commands of namespace objc.
puts "Hello from Tcl [info patchlevel]"
puts "argc = $argc"
set index 0
foreach argument $argv {
    puts "argv($index) = $argument"
    incr index
}

# Strings are objects: make one and send it messages.
set greeting [objc::string "Hello, Objective-C"]
puts "string: [objc::send $greeting cString] ([objc::send $greeting length] characters)"
set copy [objc::send [objc::send NSString alloc] initWithCString: "from Tcl"]
puts "equal: [objc::send $greeting isEqual: $copy]"
objc::send $copy release

# A class of our own, with instance variables (a struct encoding, in
# braces) and methods written in Tcl.
objc::defineClass Counter NSObject {{Counter="count"i"step"s"flags"b4}}
objc::method Counter init @8@0:4 {} {
    set self [objc::super $self init]
    objc::ivar $self step 1
    return $self
}
objc::method Counter increment i8@0:4 {} {
    objc::ivar $self count [expr {[objc::ivar $self count] + [objc::ivar $self step]}]
}
objc::method Counter setStep: v12@0:4s8 {step} {
    objc::ivar $self step $step
}
objc::method Counter describe @8@0:4 {} {
    objc::string "Counter at [objc::ivar $self count]"
}
set counter [objc::send [objc::send Counter alloc] init]
objc::send $counter increment
objc::send $counter setStep: 10
# Called from Objective-C: NSObject's performSelector: runs the Tcl method.
objc::send $counter performSelector: increment
puts "counter: [objc::send [objc::send $counter describe] cString]"

# Redefined: the new method runs and reaches the one it displaced.
objc::method Counter increment i8@0:4 {} {
    set count [objc::former $self increment]
    puts "  (increment redefined: the former method counted to $count)"
    return $count
}
objc::send $counter increment
puts "counter: [objc::ivar $counter count]"

# A protocol made at run time, which the class implements.
objc::protocol create Describing {} {describe @8@0:4}
puts "implements Describing: [objc::protocol implements Counter Describing]"

# C functions, found by name.
objc::cfunction strlen I4*0
objc::cfunction atan2 d16d0d8
puts "strlen: [strlen "Hello.app"]"
puts "atan2(1, 1) * 4 = [format %.6f [expr {[atan2 1 1] * 4}]]"

# An event dispatched by the application object: its Tcl handler fails,
# and the application presents the error instead of ending.
objc::defineClass Button NSObject
objc::method Button click: v12@0:4@8 {event} {
    error "the button's handler failed"
}
set app [objc::send NSApplication sharedApplication]
set button [objc::send [objc::send Button alloc] init]
set event [objc::send NSEvent eventWithTarget:action:object: $button click: {}]
objc::send $app sendEvent: $event
puts "the event was handled"

if {"--fail" in [lrange $argv 1 end]} {
    error "asked to fail with --fail"
}
puts "Goodbye"
