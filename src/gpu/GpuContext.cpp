#include "GpuContext.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions_4_3_Core>
#include <QOpenGLVersionFunctionsFactory>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace gpucontext {
namespace {

[[noreturn]] void fatal(const char* message) {
    std::fputs(message, stderr);
    std::fputs("\n", stderr);
    std::fflush(stderr);
    std::abort();
}

QSurfaceFormat contextFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(4, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    return format;
}

// Made once, on the GUI thread, never released.
struct Shared {
    QOffscreenSurface* surface = nullptr;
    QOpenGLContext* root = nullptr;
};

Shared makeShared() {
    Shared shared;
    shared.surface = new QOffscreenSurface;
    shared.surface->setFormat(contextFormat());
    shared.surface->create();
    shared.root = QOpenGLContext::globalShareContext();
    if (!shared.root) {
        // No application-wide share context: make our own root so the threads'
        // contexts still share textures and programs.
        shared.root = new QOpenGLContext;
        shared.root->setFormat(contextFormat());
        if (!shared.root->create()) {
            fatal("OpenGL 4.3 core context not available");
        }
    }
    return shared;
}

// Surfaces belong to the GUI thread on some platforms (a hidden window), so a
// worker that comes first asks the GUI thread and waits. The GUI thread never
// waits for a worker here: if it needs the GPU meanwhile it makes the surface
// itself. A GUI thread that does not answer (blocked, say, joining this very
// worker) must not hang the process: after a while the worker makes the surface,
// which works wherever offscreen surfaces are pbuffers (X11, EGL).
const Shared& shared() {
    static std::mutex mutex;
    static std::condition_variable made;
    static Shared instance;
    static std::atomic<bool> ready = false;
    static bool requested = false;

    if (ready.load(std::memory_order_acquire)) {
        return instance;
    }
    std::unique_lock<std::mutex> lock(mutex);
    if (ready) {
        return instance;
    }
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app) {
        fatal("OpenGL 4.3 core context not available");
    }
    if (QThread::currentThread() != app->thread()) {
        if (!requested) {
            requested = true;
            QMetaObject::invokeMethod(
                app, [] { shared(); }, Qt::QueuedConnection);
        }
        if (made.wait_for(lock, std::chrono::seconds(2), [] { return ready.load(); })) {
            return instance;
        }
    }
    instance = makeShared();
    if (!instance.surface->isValid()) {
        fatal("OpenGL 4.3 core context not available");
    }
    ready.store(true, std::memory_order_release);
    made.notify_all();
    return instance;
}

struct ThreadState {
    std::unique_ptr<QOpenGLContext> context;
    QOpenGLFunctions_4_3_Core* gl = nullptr;
    ThreadObjects objects;
    // The surface the context is made current on (see surfaceFor).
    QSurface* surface = nullptr;
    QOffscreenSurface* ownSurface = nullptr; // lives on the GUI thread

    ~ThreadState();

    // Deletes the thread's objects and context.
    void release() {
        if (!context) {
            return;
        }
        // After the application object is gone the platform cannot destroy
        // contexts any more; the process is ending, so leave them.
        if (!QCoreApplication::instance() || !context->makeCurrent(surface)) {
            (void)context.release();
            (void)new ThreadObjects(std::move(objects));
            return;
        }
        gl->glDeleteFramebuffers(1, &objects.filterFramebuffer);
        gl->glDeleteVertexArrays(1, &objects.filterVertexArray);
        gl->glDeleteBuffers(1, &objects.columnBuffer);
        gl->glDeleteBuffers(1, &objects.exactCountBuffer);
        gl->glDeleteBuffers(1, &objects.exactPixelBuffer);
        objects = ThreadObjects{};
        context->doneCurrent();
        context.reset();
        if (ownSurface) {
            ownSurface->deleteLater();
        }
        ownSurface = nullptr;
        surface = nullptr;
        gl = nullptr;
    }
};

thread_local ThreadState threadState;
// Set once threadState is gone; trivially destructible, so readable until the
// thread's very end.
thread_local bool threadStateGone = false;

ThreadState::~ThreadState() {
    threadStateGone = true;
    release();
}

// Qt may tear down its per-thread data before the thread's thread_local objects
// go (a QThread always does; a thread Qt adopted, depending on which was made
// first), and no context can be made current after that: Qt warns on the
// console. So let go of the context when Qt reports the thread finished, unless
// threadState went first.
void releaseWhenThreadFinishes() {
    // Run on the finishing thread itself. The application as the context: a
    // connection whose context is a thread Qt adopted holds that thread's data,
    // which then outlives the thread.
    QObject::connect(
        QThread::currentThread(), &QThread::finished, QCoreApplication::instance(),
        [] {
            if (!threadStateGone) {
                threadState.release();
            }
        },
        Qt::DirectConnection);
}

QOffscreenSurface* makeSurface() {
    auto* surface = new QOffscreenSurface;
    surface->setFormat(contextFormat());
    surface->create();
    return surface;
}

// An offscreen surface made on the GUI thread, as shared() makes its own: asked
// for, waited for a while, and made here if the GUI thread does not answer.
QOffscreenSurface* surfaceFromGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    if (QThread::currentThread() == app->thread()) {
        return makeSurface();
    }
    struct Request {
        std::mutex mutex;
        std::condition_variable made;
        QOffscreenSurface* surface = nullptr;
        bool answered = false;
        bool abandoned = false;
    };
    auto request = std::make_shared<Request>();
    QMetaObject::invokeMethod(
        app,
        [request] {
            std::lock_guard<std::mutex> guard(request->mutex);
            if (request->abandoned) {
                return;
            }
            request->surface = makeSurface();
            request->answered = true;
            request->made.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(request->mutex);
    if (!request->made.wait_for(lock, std::chrono::seconds(2), [&] { return request->answered; })) {
        request->abandoned = true;
        return makeSurface();
    }
    return request->surface;
}

// EGL lets a surface be current on one thread at a time (GLX does not mind), so
// under EGL every thread but the GUI thread has an offscreen surface of its own.
QSurface* surfaceFor(QOpenGLContext& context, const Shared& s) {
    if (!context.nativeInterface<QNativeInterface::QEGLContext>() ||
        QThread::currentThread() == QCoreApplication::instance()->thread()) {
        return s.surface;
    }
    QOffscreenSurface* own = surfaceFromGuiThread();
    if (!own->isValid()) {
        own->deleteLater();
        return s.surface;
    }
    threadState.ownSurface = own;
    return own;
}

bool isCoreAtLeast43(const QSurfaceFormat& format) {
    return format.version() >= qMakePair(4, 3) && format.profile() == QSurfaceFormat::CoreProfile;
}

} // namespace

QOpenGLContext* shareRoot() {
    return shared().root;
}

void prepareSurface() {
    shared();
    // A worker's own surface comes from the GUI thread as well.
    if (!threadState.context &&
        QThread::currentThread() != QCoreApplication::instance()->thread()) {
        ScopedThreadContext scope;
    }
}

QOpenGLFunctions_4_3_Core& makeThreadContextCurrent() {
    const Shared& s = shared();
    ThreadState& state = threadState;
    if (!state.context) {
        auto context = std::make_unique<QOpenGLContext>();
        context->setFormat(contextFormat());
        context->setShareContext(s.root);
        if (!context->create() || !isCoreAtLeast43(context->format())) {
            fatal("OpenGL 4.3 core context not available");
        }
        state.surface = surfaceFor(*context, s);
        if (!context->makeCurrent(state.surface)) {
            fatal("Failed to make the OpenGL context current");
        }
        state.gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_4_3_Core>(context.get());
        if (!state.gl || !state.gl->initializeOpenGLFunctions()) {
            fatal("OpenGL 4.3 core context not available");
        }
        state.context = std::move(context);
        releaseWhenThreadFinishes();
        return *state.gl;
    }
    if (QOpenGLContext::currentContext() != state.context.get() &&
        !state.context->makeCurrent(state.surface)) {
        fatal("Failed to make the OpenGL context current");
    }
    return *state.gl;
}

QOpenGLFunctions_4_3_Core& shareGroupFunctions() {
    QOpenGLContext* current = QOpenGLContext::currentContext();
    if (current && current != threadState.context.get() &&
        QOpenGLContext::areSharing(current, shareRoot())) {
        auto* gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_4_3_Core>(current);
        if (gl && gl->initializeOpenGLFunctions()) {
            return *gl;
        }
    }
    return makeThreadContextCurrent();
}

ThreadObjects& threadObjects() {
    return threadState.objects;
}

std::mutex& programLock() {
    static std::mutex lock;
    return lock;
}

ScopedThreadContext::ScopedThreadContext()
    : m_previous(QOpenGLContext::currentContext()),
      m_previousSurface(m_previous ? m_previous->surface() : nullptr) {
    m_gl = &makeThreadContextCurrent();
}

ScopedThreadContext::~ScopedThreadContext() {
    if (m_previous && m_previous != threadState.context.get() && m_previousSurface) {
        m_previous->makeCurrent(m_previousSurface);
    }
}

void clearErrors(QOpenGLFunctions_4_3_Core& gl) {
    for (int i = 0; i < 64 && gl.glGetError() != GL_NO_ERROR; ++i) {
    }
}

} // namespace gpucontext
