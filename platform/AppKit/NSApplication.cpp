/* The application object and its events. Headless: an event names a
   target and an action, and dispatching it sends the action to the target
   (the application when the target is nil) with the event as argument. */
#include <stdlib.h>
#include <objc/objc-load.h>
#include <AppKit/AppKit.h>

using namespace objc_module_records;

OBJC_EXPORT id NSApp = nil;

namespace {

struct EventIvars {
  Class isa;
  id target;
  SEL action;
  id object;
};

struct ApplicationIvars {
  Class isa;
  id queue; /* NSMutableArray of pending events */
  BOOL running;
  BOOL stopRequested;
};

EventIvars *eventOf(id self) { return reinterpret_cast<EventIvars *>(self); }

ApplicationIvars *appOf(id self) {
  return reinterpret_cast<ApplicationIvars *>(self);
}

id retained(id obj) { return obj ? objc_send(obj, "retain") : obj; }

void release(id obj) {
  if (obj)
    objc_send<void>(obj, "release");
}

/* ---- NSEvent ---- */

id Event_eventWithTargetActionObject(id self, SEL, id target, SEL action,
                                     id object) {
  id event = objc_send(objc_send(self, "alloc"), "init");
  eventOf(event)->target = retained(target);
  eventOf(event)->action = action;
  eventOf(event)->object = retained(object);
  return objc_send(event, "autorelease");
}

void Event_dealloc(id self, SEL) {
  release(eventOf(self)->target);
  release(eventOf(self)->object);
  object_dispose(self);
}

id Event_target(id self, SEL) { return eventOf(self)->target; }
SEL Event_action(id self, SEL) { return eventOf(self)->action; }
id Event_object(id self, SEL) { return eventOf(self)->object; }

MethodList<4> Event_imethods = {nullptr,
                                4,
                                {OBJC_DERIVED_METHOD("dealloc", Event_dealloc),
                                 OBJC_DERIVED_METHOD("target", Event_target),
                                 OBJC_DERIVED_METHOD("action", Event_action),
                                 OBJC_DERIVED_METHOD("object", Event_object)}};

MethodList<1> Event_cmethods = {
    nullptr,
    1,
    {OBJC_DERIVED_METHOD("eventWithTarget:action:object:",
                         Event_eventWithTargetActionObject)}};

IvarList<3> Event_ivars = {
    3, {{"target", "@", 4}, {"action", ":", 8}, {"object", "@", 12}}};

OBJC_CLASS_RECORDS(NSEvent_class, "NSEvent", "NSObject", sizeof(EventIvars),
                   &Event_ivars, &Event_imethods, &Event_cmethods);

/* ---- NSApplication ---- */

id Application_sharedApplication(id self, SEL) {
  if (!NSApp)
    NSApp = objc_send(objc_send(self, "alloc"), "init");
  return NSApp;
}

id Application_init(id self, SEL) {
  appOf(self)->queue = retained(objc_send_class("NSMutableArray", "array"));
  return self;
}

void Application_sendEvent(id self, SEL, id event) {
  if (!event)
    return;
  id target = eventOf(event)->target;
  SEL action = eventOf(event)->action;
  if (action)
    objc_send<void>(target ? target : self, action, event);
}

void Application_postEventAtStart(id self, SEL, id event, BOOL atStart) {
  if (!event)
    return;
  id queue = appOf(self)->queue;
  if (atStart)
    objc_send<void>(queue, "insertObject:atIndex:", event, 0u);
  else
    objc_send<void>(queue, "addObject:", event);
}

/* The next queued event, retained and out of the queue; nil when none. */
id takeEvent(id self) {
  id queue = appOf(self)->queue;
  if (objc_send<unsigned>(queue, "count") == 0)
    return nil;
  id event = retained(objc_send(queue, "objectAtIndex:", 0u));
  objc_send<void>(queue, "removeObjectAtIndex:", 0u);
  return event;
}

/* Each event is dispatched with a pool of its own. An exception that
   sendEvent: lets out ends the loop and leaves run. */
void Application_run(id self, SEL) {
  ApplicationIvars *app = appOf(self);
  app->running = YES;
  app->stopRequested = NO;
  while (!app->stopRequested) {
    id event = takeEvent(self);
    if (!event)
      break;
    id pool = objc_send_class("NSAutoreleasePool", "new");
    NS_DURING
    objc_send<void>(self, "sendEvent:", event);
    NS_HANDLER
    app->running = NO;
    release(event);
    /* the exception may live in the event's pool: move it outward */
    id exception = retained(localException);
    objc_send<void>(pool, "release");
    objc_send(exception, "autorelease");
    objc_send<void>(exception, "raise");
    NS_ENDHANDLER
    release(event);
    objc_send<void>(pool, "release");
  }
  app->running = NO;
}

void Application_stop(id self, SEL, id) { appOf(self)->stopRequested = YES; }

BOOL Application_isRunning(id self, SEL) { return appOf(self)->running; }

void Application_terminate(id, SEL, id) { exit(0); }

MethodList<7> Application_imethods = {
    nullptr,
    7,
    {OBJC_DERIVED_METHOD("init", Application_init),
     OBJC_DERIVED_METHOD("sendEvent:", Application_sendEvent),
     OBJC_DERIVED_METHOD("postEvent:atStart:", Application_postEventAtStart),
     OBJC_DERIVED_METHOD("run", Application_run),
     OBJC_DERIVED_METHOD("stop:", Application_stop),
     OBJC_DERIVED_METHOD("isRunning", Application_isRunning),
     OBJC_DERIVED_METHOD("terminate:", Application_terminate)}};

MethodList<1> Application_cmethods = {
    nullptr,
    1,
    {OBJC_DERIVED_METHOD("sharedApplication", Application_sharedApplication)}};

IvarList<3> Application_ivars = {
    3, {{"queue", "@", 4}, {"running", "c", 8}, {"stopRequested", "c", 9}}};

OBJC_CLASS_RECORDS(NSApplication_class, "NSApplication", "NSObject",
                   sizeof(ApplicationIvars), &Application_ivars,
                   &Application_imethods, &Application_cmethods);

OBJC_MODULE_RECORD(module, 2, 0, &NSApplication_class, &NSEvent_class);

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_LIBRARY_REGISTRATION()
OBJC_IMPORT_CLASS(NSObject);
OBJC_CLASS_SYMBOL(NSApplication);
OBJC_CLASS_SYMBOL(NSEvent);
