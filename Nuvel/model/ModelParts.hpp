#pragma once

#include "Nuvel/model/ModelContext.hpp"
#include "Nuvel/model/annotations/AnnotationSync.hpp"
#include "Nuvel/model/capture/CaptureController.hpp"
#include "Nuvel/model/localaudio/LocalAudioFiles.hpp"
#include "Nuvel/model/localaudio/LocalPlayback.hpp"
#include "Nuvel/model/session/SessionController.hpp"
#include "Nuvel/model/session/WorkspaceOpener.hpp"
#include "Nuvel/model/upload/UploadQueue.hpp"

#include <utility>

namespace nuvel {

// The application model's parts over their one shared context, made in the order they use each
// other (each uses only those above it) and destroyed in reverse.
struct ModelParts {
    // Throws std::invalid_argument when a required dependency is missing.
    explicit ModelParts(AppModelDependencies dependencies)
        : context(std::move(dependencies)), annotations(context), upload(context, annotations),
          playback(context, upload), files(context, upload, playback), capture(context, playback, upload),
          workspaces(context, upload, annotations, playback), session(context, workspaces, upload, playback) {
    }
    ModelParts(const ModelParts&) = delete;
    ModelParts& operator=(const ModelParts&) = delete;

    ModelContext context;
    AnnotationSync annotations;
    UploadQueue upload;
    LocalPlayback playback;
    LocalAudioFiles files;
    CaptureController capture;
    WorkspaceOpener workspaces;
    SessionController session;
};

} // namespace nuvel
