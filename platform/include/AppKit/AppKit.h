/* AppKit: the application object, events and the alert panel. Headless:
   nothing is drawn. */
#ifndef APPKIT_APPKIT_H
#define APPKIT_APPKIT_H

#include <Foundation/Foundation.h>

OBJC_BEGIN_DECLS

/* The shared application (NSApplication), once +sharedApplication made it. */
OBJC_EXPORT extern id NSApp;

enum {
  NSAlertDefaultReturn = 1,
  NSAlertAlternateReturn = 0,
  NSAlertOtherReturn = -1
};

/* Shows an alert: prints title, message and buttons on stderr and answers
   the button chosen on an interactive terminal, else the default button.
   The message is a format; the buttons may be nil. */
OBJC_EXPORT int NSRunAlertPanel(id title, id messageFormat, id defaultButton,
                                id alternateButton, id otherButton, ...)
    OBJC_NOEXCEPT;

/* Replaces the terminal dialogue (tests): called with the formatted
   message; its answer is the panel's. Null restores the terminal. */
typedef int (*NSAlertPanelResponder)(id title, id message, id defaultButton,
                                     id alternateButton, id otherButton);
OBJC_EXPORT void NSSetAlertPanelResponder(NSAlertPanelResponder responder)
    OBJC_NOEXCEPT;

OBJC_END_DECLS

#endif
