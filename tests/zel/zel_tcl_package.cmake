# package require zelTcl in a plain tclsh whose auto_path holds the folder
# of the library, in its child interpreters too; a safe one is refused.
set(PROGRAM ${TCLSH})
set(ENV{TCLLIBPATH} ${PACKAGES})
include(${CMAKE_CURRENT_LIST_DIR}/zel_run.cmake)
string(CONCAT script
  "puts [package require zelTcl]\n"
  "puts [objc::send [objc::string hello] length]\n"
  "interp create child\n"
  "puts [child eval {package require zelTcl; objc::send [objc::string abc] length}]\n")
zel_case(package_require 0 "^1\\.0\n5\n3\n$" "^$" INPUT "${script}")
string(CONCAT script
  "interp create -safe safe\n"
  "interp expose safe load\n"
  "catch {safe eval [list load [file join $env(TCLLIBPATH) libzelTcl.so] Zeltcl]} m\n"
  "puts $m\n")
zel_case(safe_refused 0 "cannot be loaded into a safe interpreter\n$" "^$"
  INPUT "${script}")
