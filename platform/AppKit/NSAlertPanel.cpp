/* The alert panel, headless: title, message and buttons go to stderr; on
   an interactive terminal the user types a button's name or number, and
   otherwise the default button is the answer. A responder installed by a
   test replaces the dialogue. */
#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>
#include <AppKit/AppKit.h>

namespace {

NSAlertPanelResponder responder = nullptr;

const char *textOf(id str) {
  return str ? objc_send<const char *>(str, "cString") : nullptr;
}

void showPanel(const char *title, const char *message, const char *buttons[3]) {
  static const int answers[3] = {NSAlertDefaultReturn, NSAlertAlternateReturn,
                                 NSAlertOtherReturn};
  if (title && *title)
    fprintf(stderr, "%s\n", title);
  fprintf(stderr, "%s\n", message);
  for (int i = 0; i < 3; i++)
    if (buttons[i])
      fprintf(stderr, "  [%d] %s%s\n", answers[i], buttons[i],
              i == 0 ? " (default)" : "");
  fflush(stderr);
}

/* The answer a typed line names, or 2 (none) when it names no button. */
int answerFor(char *line, const char *buttons[3]) {
  static const int answers[3] = {NSAlertDefaultReturn, NSAlertAlternateReturn,
                                 NSAlertOtherReturn};
  line[strcspn(line, "\r\n")] = '\0';
  while (isspace(static_cast<unsigned char>(*line)))
    line++;
  if (*line == '\0')
    return NSAlertDefaultReturn;
  for (int i = 0; i < 3; i++) {
    char number[8];
    snprintf(number, sizeof number, "%d", answers[i]);
    if (buttons[i] &&
        (strcasecmp(line, buttons[i]) == 0 || strcmp(line, number) == 0))
      return answers[i];
  }
  return 2;
}

/* Asks until a line names a button; end of input picks the default. */
int askTerminal(const char *buttons[3]) {
  char line[256];
  for (;;) {
    fputs("> ", stderr);
    fflush(stderr);
    if (!fgets(line, sizeof line, stdin))
      return NSAlertDefaultReturn;
    int answer = answerFor(line, buttons);
    if (answer != 2)
      return answer;
  }
}

} // namespace

OBJC_EXPORT void NSSetAlertPanelResponder(NSAlertPanelResponder fn) noexcept {
  responder = fn;
}

OBJC_EXPORT int NSRunAlertPanel(id title, id messageFormat, id defaultButton,
                                id alternateButton, id otherButton,
                                ...) noexcept {
  id message = NSSTR("");
  if (messageFormat) {
    va_list args;
    va_start(args, otherButton);
    message = objc_send(objc_send_class("NSString", "alloc"),
                        "initWithFormat:arguments:", messageFormat, args);
    va_end(args);
    objc_send(message, "autorelease");
  }
  if (!defaultButton)
    defaultButton = NSSTR("OK");
  if (responder)
    return responder(title, message, defaultButton, alternateButton,
                     otherButton);
  const char *buttons[3] = {textOf(defaultButton), textOf(alternateButton),
                            textOf(otherButton)};
  showPanel(textOf(title), textOf(message), buttons);
  if (!isatty(STDIN_FILENO))
    return NSAlertDefaultReturn;
  return askTerminal(buttons);
}
