#include "RenderRequest.h"

#include "FieldPresenter.h"

#include <algorithm>
#include <cmath>

void RenderRequest::takeSettings(const AppModel& model, double pointsPerCentimetre) {
    maxPatchSize = model.maxPatchSize();
    renderingMode = model.renderingMode();
    animationRenderScale = model.animationRenderScale();
    isStereoscopicMode = model.isStereoscopicMode();
    isAutostereogramMode = model.isAutostereogramMode();
    sirdsStripColumns = model.sirdsStripColumns();
    isColorMode = model.isColorMode();
    colorModeBlackLevel = model.colorModeBlackLevel();
    stereoPhaseDisparity = model.stereoPhaseDisparity();
    stereoLayout = model.stereoLayout();
    stereoPair = {model.stereoPairWidth() * pointsPerCentimetre,
                  model.stereoPairGap() * pointsPerCentimetre, model.showFusionMarks()};
    animation = AnimationSettings::fromModel(model);
}

TileSetInputs RenderRequest::tileSetInputs() const {
    TileSetInputs inputs;
    inputs.patternSeed = seed;
    inputs.viewWidth = viewWidth;
    inputs.viewHeight = viewHeight;
    inputs.backingScale = backingScale;
    inputs.maxPatchSize = maxPatchSize;
    inputs.isAutostereogramMode = isAutostereogramMode;
    inputs.isStereoscopicMode = isStereoscopicMode;
    inputs.sirdsStripColumns = sirdsStripColumns;
    inputs.stereoLayout = stereoLayout;
    inputs.stereoPair = stereoPair;
    return inputs;
}

QSize RenderRequest::frameSize() const {
    // Every layout fills the drawable: one canvas, a pair, an autostereogram.
    const CanvasGeometry g =
        canvasGeometry(viewWidth, viewHeight, passScale(backingScale, animationRenderScale),
                       maxPatchSize, isAutostereogramMode, isStereoscopicMode,
                       std::clamp<std::int64_t>(sirdsStripColumns, 2, 6), stereoLayout, stereoPair);
    return {g.canvasW, g.canvasH};
}

RequestRenderer::RequestRenderer(const RenderRequest& request) : m_request(request) {
    prepareAnimationTiles(m_tiles, m_request.tileSetInputs());
}

AnimationState RequestRenderer::stateAt(const Rational& t) const {
    return animationStateAt(m_request.animation, m_tiles, m_request.seed, t, m_request.phase,
                            m_request.breathingPhase, m_request.loop);
}

RenderSnapshot RequestRenderer::snapshotAt(const Rational& t) const {
    const RenderRequest& r = m_request;
    AnimationState state = stateAt(t);
    RenderSnapshot s;
    s.force = true;
    s.backingScale = r.backingScale;
    s.viewWidth = r.viewWidth;
    s.viewHeight = r.viewHeight;
    s.isAutostereogramMode = r.isAutostereogramMode;
    s.maxPatchSize = r.maxPatchSize;
    s.sirdsStripColumns = std::clamp<std::int64_t>(r.sirdsStripColumns, 2, 6);
    s.isStereoscopicMode = r.isStereoscopicMode;
    s.breathingPhaseOffsets = m_tiles.breathingPhaseOffsets;
    s.breathingPhase = state.breathingPhase;
    s.phase = state.phase;
    s.tileParams = m_tiles.animationTileParams;
    for (std::size_t i = 0; i < s.tileParams.size(); ++i)
        s.tileParams[i].orientation = state.orientations[i];
    s.variantIndices = m_tiles.animationTileVariantIndices;
    s.spins = std::move(state.spins);
    s.hues = m_tiles.animationTileHues;
    s.isColorMode = r.isColorMode;
    s.colorModeBlackLevel = r.colorModeBlackLevel;
    s.stereoPhaseOffset = stereoPhaseOffset(r.stereoPhaseDisparity);
    s.stereoLayout = r.stereoLayout;
    s.stereoPair = r.stereoPair;
    return s;
}

FrameImage RequestRenderer::frameAt(const Rational& t) {
    using Mode = AppModel::RenderingMode;
    const RenderRequest& r = m_request;
    const RenderSnapshot snapshot = snapshotAt(t);
    FrameImage frame;
    if (r.withoutGpu && r.renderingMode == Mode::gpu)
        frame = frameImageOf(renderFrameOnCpu(snapshot, r.animationRenderScale, m_shiftCache),
                             snapshot, r.animationRenderScale, r.seed);
    else if (r.withoutGpu && r.renderingMode == Mode::imageFilter)
        frame.failure = FrameImage::Failure::noPatch;
    else
        frame = renderFrameImage(snapshot, r.seed, r.renderingMode, r.animationRenderScale,
                                 m_shiftCache);
    if (frame.failure == FrameImage::Failure::none && m_request.animation.illuminant)
        applyIlluminantTint(frame.image, stateAt(t).illuminantHue);
    return frame;
}

FrameImage renderRequest(const RenderRequest& request) {
    return RequestRenderer(request).frame();
}

void applyIlluminantTint(QImage& image, double hue) {
    const std::array<double, 3> tint = FieldPresenter::illuminantColor(hue);
    // The blit's uniform is single precision.
    const float channel[3] = {float(tint[0]), float(tint[1]), float(tint[2])};
    std::uint8_t table[3][256];
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v)
            table[c][v] = static_cast<std::uint8_t>(std::lround(double(v) * double(channel[c])));
    if (image.format() != QImage::Format_RGBA8888_Premultiplied)
        image.convertTo(QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* p = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x, p += 4)
            for (int c = 0; c < 3; ++c)
                p[c] = table[c][p[c]];
    }
}
