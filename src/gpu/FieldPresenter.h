#pragma once

#include "GpuTexture.h"

#include <QOpenGLWidget>
#include <QTimer>
#include <array>
#include <memory>

class QOpenGLFunctions_4_3_Core;
class QOpenGLVertexArrayObject;

// The presenter: shows a window's finished canvas textures with colour inversion,
// display gamma, black lift and the illuminant tint, either over the whole view
// or as a side-by-side stereo pair. Draws only when its inputs change (or the
// platform asks), and keeps at most one of its own frames on the GPU.
class FieldPresenter : public QOpenGLWidget {
    Q_OBJECT
public:
    // The wanted picture; the layout builds a new one on each update.
    struct Description {
        GpuTextureRef leftTexture;  // single canvas, or the left eye's
        GpuTextureRef rightTexture; // right eye's canvas
        bool isStereoscopic = false;
        bool isCrossEyed = false; // swap the halves
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
        bool isStereoscopic = false;
        bool isCrossEyed = false;
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

    // Where each half of a stereo pair goes, in drawable pixels.
    struct Viewport {
        float x, y, width, height;
        bool operator==(const Viewport&) const = default;
    };
    static std::array<Viewport, 2> stereoViewports(int drawableWidth, int drawableHeight);

    // Colour of the illuminant at hue (saturation 0.85, brightness 1).
    static std::array<double, 3> illuminantColor(double hue);

    explicit FieldPresenter(QWidget* parent = nullptr);
    ~FieldPresenter() override;

    // Hands the new description to the presenter state and marks the view for
    // display when something changed.
    void updateView(const Description& description);

    const PresenterState& presenterState() const { return m_presenterState; }
    // A display asked for while a frame was on the GPU, to be drawn when it completes.
    bool isDisplayPending() const { return m_displayPending; }
    // Frames encoded so far.
    int drawCount() const { return m_drawCount; }

signals:
    // A frame was encoded.
    void frameDrawn();

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void setNeedsDisplay();
    void encodePass(const GpuTextureRef& texture);
    void checkDrawCompletion();
    void releaseGL();

    PresenterState m_presenterState;
    bool m_displayPending = false;
    int m_drawCount = 0;
    QOpenGLFunctions_4_3_Core* m_gl = nullptr;
    std::unique_ptr<QOpenGLVertexArrayObject> m_vao;
    unsigned int m_sampler = 0;
    unsigned int m_program = 0;
    void* m_fence = nullptr; // GLsync of the frame on the GPU
    QTimer m_completionTimer;
};
