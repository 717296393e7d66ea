// Pictures of the pages as the launcher will show them, for checking a skin by eye.
#pragma once

#include <QString>
#include <vector>

#include "Pictures.h"

namespace zarn::skingen {

// Writes preview-work.png, preview-install.png, preview-register.png and preview-states.png
// into the folder. False with a message when a file cannot be written.
bool WritePreviews(const SkinStyle& style, const std::vector<Picture>& pictures, const QString& folder,
                   QString* error);

}  // namespace zarn::skingen
