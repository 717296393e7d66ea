// The journal of an update round: which packages of the published manifest are already unpacked,
// so that a round broken off (a failed download, a killed launcher) goes on where it stopped
// instead of fetching everything again. "update.xml" is still installed only at the end.
//
// The journal lies beside the manifests as "update.journal". It names the round it belongs to
// by the SHA-256 of the installed and of the downloaded manifest, and ends with the SHA-256 of
// its own text; one that does not parse, does not end so, or names another round is ignored.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "update/UpdateManifest.h"

namespace zarn {

// launcherDir + "/update.journal".
std::string JournalPath(const std::string& launcherDir);

// Which round a journal belongs to.
struct JournalIdentity {
  std::string installed;  // SHA-256 of "update.xml", "-" when there is none
  std::string published;  // SHA-256 of "update.down"
  bool operator==(const JournalIdentity&) const = default;
};

// The identity of the round that "update.down" and "update.xml" now make; none when
// "update.down" cannot be read (the round then keeps no journal).
std::optional<JournalIdentity> RoundIdentity(const std::string& launcherDir);

struct UpdateJournal {
  JournalIdentity identity;
  PackageList finished;  // key → the version text that was unpacked
};

std::string FormatJournal(const UpdateJournal& journal);
// None for anything that FormatJournal did not write, byte for byte.
std::optional<UpdateJournal> ParseJournal(std::string_view text);

// The journal in launcherDir; none when it is missing, not a regular file, too large or
// unreadable in any way.
std::optional<UpdateJournal> ReadJournal(const std::string& launcherDir);

// Replaces the journal so that it survives a crash or a power loss: the file system of the
// game folder (the unpacked files) is flushed first, so the journal never claims files that
// are not on disk; then a temporary file is written and flushed, renamed over the journal, and
// the folder flushed. Slow on a busy disk: not for the user-interface thread. False when any
// step failed (the old journal, if any, is then still whole).
bool WriteJournal(const std::string& launcherDir, const UpdateJournal& journal);

// Removes the journal (and a temporary one left by a crash). True when none is left.
bool RemoveJournal(const std::string& launcherDir);

// Takes from chosen every package that the journal of this round records with the same version
// text, and returns them. A journal of another round gives nothing.
PackageList TakeFinished(PackageList& chosen, const std::optional<UpdateJournal>& journal,
                         const JournalIdentity& round);

}  // namespace zarn
