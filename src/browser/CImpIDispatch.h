// The object that pages of the web panel reach as window.external.
//
// The Windows launcher handed the browser a COM automation object whose only member answered
// "Dizive". A Chromium page has no COM, so this class writes those answers as a script that
// every frame runs at document creation in the page's own world, before the page's scripts:
//   - a name whose first two characters are lower-case "xx" is the known member; reading it
//     gives a value that reads as the text "Dizive", and calling it as a method gives nothing;
//   - any other name is unknown: reading, writing or calling it throws a TypeError, as a script
//     sees it for an unknown member of a host object.
// The reference counting and interface queries of the COM object have no counterpart here.
#pragma once

#include <QString>
#include <QWebEngineScript>

namespace zarn {

class CImpIDispatch {
 public:
  // The member scripts are meant to read; every name sharing its first two characters answers.
  static constexpr const char kKnownMember[] = "xxyyzz";
  static constexpr const char kMemberText[] = "Dizive";

  // The script source that defines window.external in the frame it runs in.
  static QString ScriptSource();
  // That source as a script for a page's collection: document creation, main world, all frames.
  static QWebEngineScript Script();
};

}  // namespace zarn
