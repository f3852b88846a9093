/* Objects in JavaScript's idiom, made in JavaScript on the core's rules
   (the core's special members and selector spelling are its helpers): a
   property of a handle sends the selector the name spells
   (s.appendString_(t)), $-names tell about the object; objc.classes.NAME
   is the class. (String(h), the description, is the prototype's.) */
#include "js_objects.h"

#include <js/CompilationAndEvaluation.h>
#include <js/SourceText.h>
#include <js/ValueArray.h>

namespace {

/* The handles' prototype ends in a proxy that answers what the handle
   itself lacks. The function sending a selector is made once and put on the
   prototype, where every handle of the global finds it as an ordinary
   method, without the proxy; it takes its receiver from this, so it is one
   function for all handles (call it as a method, or with call). */
const char idiom[] = R"js((function (special, selectorOf) {
  'use strict';
  const proto = Object.getPrototypeOf(objc.class('NSObject'));
  const send = objc.send;
  const classOf = (h) => send(h, 'class'); /* a class answers itself */
  const ivars = (h) => new Proxy({}, {
    get: (t, name) => objc.ivar(h, String(name)),
    set: (t, name, value) => (objc.ivar(h, String(name), value), true),
    ownKeys: () => objc.ivars(classOf(h)).map((v) => v.name),
    getOwnPropertyDescriptor: (t, name) =>
      ({value: objc.ivar(h, String(name)), enumerable: true,
        configurable: true, writable: true})});
  const skip = new Set(['then', 'toString', 'valueOf', 'toJSON',
                        'constructor', 'equals']);
  const detached = (name) => new TypeError(name + ': send it to an object (h.' +
      name + '(...) or ' + name + '.call(h, ...))');
  /* For the count of arguments the selector's colons ask for, the send
     goes without a rest array and a spread, which the engine would make on
     every call; another count still reaches objc.send, which refuses it. */
  const sender = (name) => {
    const sel = selectorOf(name);
    switch (sel.split(':').length - 1) {
    case 0: return function () {
      if (this == null) throw detached(name);
      return arguments.length === 0 ? send(this, sel) :
          send(this, sel, ...arguments); };
    case 1: return function (a) {
      if (this == null) throw detached(name);
      return arguments.length === 1 ? send(this, sel, a) :
          send(this, sel, ...arguments); };
    case 2: return function (a, b) {
      if (this == null) throw detached(name);
      return arguments.length === 2 ? send(this, sel, a, b) :
          send(this, sel, ...arguments); };
    default: return function (...args) {
      if (this == null) throw detached(name);
      return send(this, sel, ...args); };
    }
  };
  Object.setPrototypeOf(proto, new Proxy(Object.create(null), {
    get(target, name, handle) {
      if (typeof name !== 'string' || skip.has(name)) return undefined;
      if (name === '$ivars') return ivars(handle);
      if (name[0] === '$') return special(handle, name);
      const method = sender(name);
      Object.defineProperty(proto, name,
                            {value: method, writable: true, configurable: true});
      return method;
    }}));
  objc.classes = new Proxy({}, {
    get: (t, name) => typeof name === 'string' ?
        objc.class(name) : undefined,
    has: (t, name) => objc.classNames(String(name)).length > 0,
    ownKeys: () => objc.classNames(),
    getOwnPropertyDescriptor: (t, name) =>
      ({value: objc.class(String(name)), enumerable: true,
        configurable: true})});
}))js";

} // namespace

namespace zeljs {

bool runIdiom(JSContext *cx) {
  JS::CompileOptions options(cx);
  options.setFileAndLine("(objc)", 1);
  JS::SourceText<mozilla::Utf8Unit> text;
  JS::RootedValue idiomFunction(cx), ignored(cx);
  JS::RootedValueArray<2> helpers(cx);
  return text.init(cx, idiom, sizeof idiom - 1,
                   JS::SourceOwnership::Borrowed) &&
         JS::Evaluate(cx, options, text, &idiomFunction) &&
         newIdiomHelpers(cx, helpers[0], helpers[1]) &&
         JS::Call(cx, JS::UndefinedHandleValue, idiomFunction, helpers,
                  &ignored);
}

} // namespace zeljs
