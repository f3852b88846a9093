-- The main script of an application made with zel_add_application.
print("made from the installed package: " ..
      objc.send(objc.string("hello"), "length"))
