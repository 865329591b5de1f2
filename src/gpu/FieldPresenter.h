#pragma once

#include "GpuTexture.h"
#include "StereoFrame.h"

#include <QColor>
#include <QImage>
#include <QOpenGLWindow>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>

class QOpenGLFunctions_4_3_Core;
class QOpenGLTextureBlitter;
class QOpenGLVertexArrayObject;

// The presenter: a native GL window that shows a window's finished canvas
// textures with colour inversion, display gamma, black lift and the illuminant
// tint, either over the whole window or as a stereo pair in one of its layouts
// (composeStereoFrame gives the same picture on the CPU), and paints
// the border and the overlays (status bar, toast) over them. Draws only when its
// inputs change (or the platform asks), at most once per event-loop turn, and
// keeps at most one of its own frames on the GPU.
class FieldPresenter : public QOpenGLWindow {
    Q_OBJECT
public:
    // The wanted picture; the layout builds a new one on each update.
    struct Description {
        GpuTextureRef leftTexture;  // single canvas, or the left eye's
        GpuTextureRef rightTexture; // right eye's canvas
        // A new number is a new frame, even in the same texture objects.
        std::uint64_t frameGeneration = 0;
        bool isStereoscopic = false;
        StereoLayout stereoLayout = StereoLayout::parallel;
        StereoPairSize stereoPair{}; // side by side: in points of this window
        bool isColorInverted = false;
        double displayGamma = 1.0;
        double displayBlackLift = 0.0;
        // Colour multiplied in after the display correction; white is no change.
        std::array<double, 3> illuminantTint{1.0, 1.0, 1.0};
    };

    // The draw delegate: the copied inputs and the in-flight flag.
    class PresenterState {
    public:
        GpuTextureRef leftTexture;
        GpuTextureRef rightTexture;
        std::uint64_t frameGeneration = 0;
        bool isStereoscopic = false;
        StereoLayout stereoLayout = StereoLayout::parallel;
        StereoPairSize stereoPair{};
        bool isColorInverted = false;
        double displayGamma = 1.0;
        double displayBlackLift = 0.0;
        std::array<double, 3> illuminantTint{1.0, 1.0, 1.0};
        bool isDrawInFlight = false;

        // Stores what differs (textures by identity, values exactly); true when
        // anything did.
        bool update(const Description& from);

        // The parameter block of every pass, in uniform-location order.
        float gammaUniform() const { return float(displayGamma); }
        float inversionFlag() const { return isColorInverted ? 1.0f : 0.0f; }
        float blackLiftUniform() const { return float(displayBlackLift); }
    };

    // Colour of the illuminant at hue (saturation 0.85, brightness 1).
    static std::array<double, 3> illuminantColor(double hue);

    // A picture painted over the field after the blit: premultiplied, at the
    // window's device pixel ratio, its top-left corner at position (window
    // coordinates), faded by opacity. An empty image paints nothing.
    struct Overlay {
        QImage image;
        QPoint position;
        double opacity = 1.0;
    };
    enum OverlaySlot { statusBarOverlay, toastOverlay, overlaySlotCount };

    FieldPresenter();
    ~FieldPresenter() override;

    // Hands the new description to the presenter state and asks for a draw when
    // something changed.
    void updateView(const Description& description);
    // Replaces one overlay; asks for a draw when it looks different.
    void setOverlay(OverlaySlot slot, const Overlay& overlay);
    // The one-pixel line drawn inside the window's edge.
    void setBorderColor(const QColor& color);
    // Asks for a draw of what the presenter holds: at the end of this event-loop
    // turn, or, while a frame is on the GPU, once it has completed.
    void setNeedsDisplay();

    // What the window would show now, drawn offscreen (tests, checks).
    QImage grabFrame();

    const PresenterState& presenterState() const { return m_presenterState; }
    // A draw asked for while a frame was on the GPU, to be made when it completes.
    bool isDisplayPending() const { return m_displayPending; }
    // Frames drawn so far.
    int drawCount() const { return m_drawCount; }
    // Of those, the frames drawn because its inputs changed, not because the
    // platform asked (an expose).
    int ownDrawCount() const { return m_ownDrawCount; }

signals:
    // A frame was drawn (frameSwapped follows once it is on its way to the screen).
    void frameDrawn();

protected:
    bool event(QEvent* event) override;
    void initializeGL() override;
    void paintGL() override;

private:
    struct OverlayTexture {
        Overlay overlay;
        unsigned int texture = 0;
        qint64 uploadedKey = 0; // cacheKey of the image in texture
    };

    // The window's size in pixels, never empty.
    QSize drawableSize() const;
    bool isDrawable() const;
    void drawQueued();
    void drawFrame(int W, int H);
    void drawOverlays(int W, int H);
    void bindCanvas(int unit, const GpuTextureRef& texture, QSize target);
    void setCorrection(bool corrects);
    void useStereoProgram(int layoutKind, int W, int H, bool corrects, const PairPlacement& pair);
    void drawStereo(int W, int H, bool corrects);
    // A canvas the window's size with nothing to change in its texels, copied to
    // the window: the same pixels as the blit for less work (on a software
    // rasterizer a plain copy of memory when the canvas is in the window's texel
    // order, where shading each pixel costs about twenty times more).
    void copyCanvas(const GpuTextureRef& texture, int W, int H);
    void checkDrawCompletion();
    void releaseGL();

    PresenterState m_presenterState;
    std::array<OverlayTexture, overlaySlotCount> m_overlays;
    QColor m_borderColor = Qt::transparent;
    bool m_displayPending = false;
    bool m_drawQueued = false;
    // Drawn whenever visible rather than when the platform says exposed (Wayland).
    bool m_pacesItself = false;
    bool m_drawingOwnFrame = false;
    int m_drawCount = 0;
    int m_ownDrawCount = 0;
    QOpenGLFunctions_4_3_Core* m_gl = nullptr;
    std::unique_ptr<QOpenGLVertexArrayObject> m_vao;
    std::unique_ptr<QOpenGLTextureBlitter> m_blitter;
    unsigned int m_linearSampler = 0;
    unsigned int m_nearestSampler = 0;
    unsigned int m_readFramebuffer = 0; // the canvas copyCanvas copies from
    unsigned int m_borderTexture = 0;
    unsigned int m_surroundTexture = 0; // one texel of the grey around a side-by-side pair
    QColor m_uploadedBorder;
    unsigned int m_program = 0;
    unsigned int m_tintProgram = 0;
    unsigned int m_stereoProgram = 0;
    void* m_fence = nullptr; // GLsync of the frame on the GPU
    QTimer m_completionTimer;
};
