#pragma once

#include "AppModel.h"
#include "PreferencesStore.h"
#include "RenderState.h"
#include "TestImages.h"

#include <memory>

// A settings model that never touches the user's settings file.
inline std::unique_ptr<AppModel> makeMemoryModel() {
    return std::make_unique<AppModel>(std::make_shared<MemoryPreferencesStore>());
}
