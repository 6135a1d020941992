// Playing a journal back: every entry undone, newest first, each undo safe to
// repeat (a playback that is itself interrupted is simply played again).
#pragma once
#include <optional>
#include <string>

#include "platform/disk.h"

namespace rorarodi {

enum class PlaybackEnd { rolled_back, completed, failed };

// Plays back the journal at `journal_path` and removes it. A journal that ends with
// its commit entry is completed instead (its hidden names removed), unless
// `roll_back_anyway`. A missing journal counts as rolled back. On failure the
// journal stays and `failure` tells why.
PlaybackEnd play_back(const std::string& journal_path, std::optional<DiskFailure>& failure,
                      bool roll_back_anyway = false);

// The directory that holds `path`, as messages name it.
std::string directory_name(const std::string& path);

} // namespace rorarodi
