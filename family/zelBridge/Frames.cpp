/* The frames of the script methods running: what super and former start
   from, and what a running definition displaced. */
#include "bridge.h"

namespace zelbridge {

std::vector<MethodFrame> &methodFrames() {
  static auto *frames = new std::vector<MethodFrame>;
  return *frames;
}

const MethodFrame *runningFrame(id receiver, SEL sel) {
  auto &frames = methodFrames();
  for (auto frame = frames.rbegin(); frame != frames.rend(); ++frame)
    if (frame->self == receiver && frame->sel == sel)
      return &*frame;
  return nullptr;
}

/* The implementation after the frame's own among its class's method
   lists, newest first, else the superclass's. */
IMP formerOf(const MethodFrame &frame) {
  void *iterator = nullptr;
  bool passed = false;
  while (objc_method_list *list = class_nextMethodList(frame.owner, &iterator))
    for (int i = 0; i < list->method_count; ++i) {
      const objc_method &method = list->method_list[i];
      if (method.method_name != frame.sel)
        continue;
      if (passed)
        return method.method_imp;
      passed = method.method_imp == frame.imp;
    }
  if (!frame.owner->super_class)
    return nullptr;
  Method inherited =
      class_getInstanceMethod(frame.owner->super_class, frame.sel);
  return inherited ? inherited->method_imp : nullptr;
}

Class runningOwner(id receiver) {
  auto &frames = methodFrames();
  for (auto frame = frames.rbegin(); frame != frames.rend(); ++frame)
    if (frame->self == receiver)
      return frame->owner;
  return nullptr;
}

} // namespace zelbridge
