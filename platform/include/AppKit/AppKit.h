/** @file
    AppKit: the application object, events and the alert panel. Headless:
   nothing is drawn. */
#ifndef APPKIT_APPKIT_H
#define APPKIT_APPKIT_H

#include <Foundation/Foundation.h>

OBJC_BEGIN_DECLS

/** The shared application (NSApplication), once +sharedApplication made it. */
OBJC_EXPORT extern id NSApp;

/** The answers of NSRunAlertPanel: the button chosen. */
enum {
  NSAlertDefaultReturn = 1,   /**< the default button */
  NSAlertAlternateReturn = 0, /**< the alternate button */
  NSAlertOtherReturn = -1     /**< the other button */
};

/** Shows an alert: prints title, message and buttons on stderr and answers
   the button chosen on an interactive terminal, else the default button.
   The message is a format; the buttons may be nil. */
OBJC_EXPORT int NSRunAlertPanel(id title, id messageFormat, id defaultButton,
                                id alternateButton, id otherButton,
                                ...) OBJC_NOEXCEPT;

/** What answers an alert panel instead of the terminal dialogue (tests):
   called with the formatted message; its answer is the panel's. */
typedef int (*NSAlertPanelResponder)(id title, id message, id defaultButton,
                                     id alternateButton, id otherButton);
/** Installs the responder of every alert panel; null restores the
   terminal. */
OBJC_EXPORT void
NSSetAlertPanelResponder(NSAlertPanelResponder responder) OBJC_NOEXCEPT;

OBJC_END_DECLS

/* ======================= Classes and their messages =======================

   Listed as in <Foundation/Foundation.h>: "+" a class message, "-" an
   instance message, each class with the messages it implements itself. */

/** @class NSEvent
   @extends NSObject
   A message waiting to be sent. Instances (16 bytes): isa, target, action,
   object; target and object retained.
   @verbatim
   +eventWithTarget:action:object:
                        a new event, autoreleased
   -target              the object that receives the action (nil: the
                        application)
   -action              the selector sent
   -object              the object the event carries for its handler
   -dealloc             releases target and object
   @endverbatim */

/** @class NSApplication
   @extends NSObject
   The application and its queue of events. zelStandalone replaces
   -sendEvent: with one that presents the exceptions an event lets out, and
   calls this one inside.
   @verbatim
   +sharedApplication   NSApp, made with alloc and init of the receiver at
                        the first call
   -init                an application with an empty queue
   -sendEvent:          sends the event's action to its target (to the
                        application when the target is nil) with the event
                        as argument; nothing for nil or a null action
   -postEvent:atStart:  queues the event (retained), first when atStart is
                        YES, else last; nothing for nil
   -run                 takes the queued events in turn and hands each to
                        sendEvent: inside an autorelease pool of its own,
                        until the queue is empty or stop: was sent; an
                        exception that sendEvent: lets out ends run and is
                        raised again, outside the event's pool
   -stop:               run returns once the current event is done
   -isRunning           YES while run dispatches events
   -terminate:          ends the process with status 0
   @endverbatim */

#endif
