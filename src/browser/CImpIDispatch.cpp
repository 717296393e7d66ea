#include "browser/CImpIDispatch.h"

#include <string>

namespace zarn {
namespace {

// Everything the object needs from the page's world is taken when the script runs, before the
// page's own scripts, so a page that later replaces String, TypeError or Proxy changes nothing.
constexpr const char kScriptBody[] = R"JS(
  var TypeErrorType = TypeError;
  var StringType = String;
  var ProxyType = Proxy;
  var defineProperty = Object.defineProperty;

  function isKnown(name) {
    return typeof name === 'string' && name.length >= 2 && name[0] === prefix[0] &&
        name[1] === prefix[1];
  }
  function unknownName(name) {
    return new TypeErrorType("Object doesn't support property or method '" + StringType(name) + "'");
  }

  // Reading the member gives this value; it converts to the text wherever a string is
  // expected and, called as a method, returns nothing.
  var member = function () {};
  var asText = function () { return text; };
  defineProperty(member, 'length', {value: text.length});
  defineProperty(member, 'name', {value: ''});
  defineProperty(member, 'toString', {value: asText});
  defineProperty(member, 'valueOf', {value: asText});
  defineProperty(member, 'toJSON', {value: asText});
  defineProperty(member, Symbol.toPrimitive, {value: asText});
  Object.setPrototypeOf(member, String.prototype);
  Object.freeze(member);

  var external = new ProxyType(Object.create(null), {
    get: function (target, name) {
      if (isKnown(name)) return member;
      // The engine itself asks for symbols (conversions, inspection); the object has none.
      if (typeof name === 'symbol') return undefined;
      throw unknownName(name);
    },
    set: function (target, name) {
      // Putting the member is accepted and changes nothing.
      if (isKnown(name)) return true;
      throw unknownName(name);
    },
    has: function (target, name) { return isKnown(name); },
    deleteProperty: function (target, name) {
      if (isKnown(name)) return true;
      throw unknownName(name);
    },
    defineProperty: function (target, name) { throw unknownName(name); },
    getOwnPropertyDescriptor: function () { return undefined; },
    ownKeys: function () { return []; },
    setPrototypeOf: function () { return false; },
    preventExtensions: function () { return false; }
  });

  try {
    defineProperty(window, 'external',
                   {value: external, enumerable: true, configurable: false, writable: false});
  } catch (e) {
    // A frame whose window already carries the object keeps it.
  }
)JS";

// A JavaScript string literal for ASCII text without quotes or backslashes.
std::string JsLiteral(const char* text) { return std::string("'") + text + "'"; }

}  // namespace

QString CImpIDispatch::ScriptSource() {
  const std::string prefix(kKnownMember, 2);
  std::string source = "(function () {\n  'use strict';\n  var text = " + JsLiteral(kMemberText) +
                       ";\n  var prefix = " + JsLiteral(prefix.c_str()) + ";\n";
  source += kScriptBody;
  source += "})();\n";
  return QString::fromStdString(source);
}

QWebEngineScript CImpIDispatch::Script() {
  QWebEngineScript script;
  script.setName(QStringLiteral("zarn-external"));
  script.setSourceCode(ScriptSource());
  script.setInjectionPoint(QWebEngineScript::DocumentCreation);
  script.setWorldId(QWebEngineScript::MainWorld);
  script.setRunsOnSubFrames(true);
  return script;
}

}  // namespace zarn
