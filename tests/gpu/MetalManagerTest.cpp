#include "MetalManager.h"
#include "GpuGeneration.h"
#include "GpuTestSupport.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions_4_3_Core>
#include <gtest/gtest.h>
#include <thread>

namespace {

const QByteArray kLinePrefix = "[Metal] シェーダーコンパイルエラー: ";
const QByteArray kBrokenShader = "#version 430 core\nvoid main() { undefinedCall(); }\n";

struct LibraryCase {
    const char* what;
    QStringList copied;
    QString broken; // written with a compile error
    int lines;      // console lines expected
    bool compute, sirds, blit, filter;
};

TEST(MetalManager, BuildsWhatTheLibraryHoldsAndReportsTheFirstFailureOnce) {
    const QStringList all = {"gaborKernel.comp", "sirdsExpand.comp", "blitVertex.vert",
                             "blitFragment.frag", "gaborPatch.frag"};
    auto allBut = [&](const QString& name) {
        QStringList files = all;
        files.removeAll(name);
        return files;
    };
    const LibraryCase cases[] = {
        {"complete", all, "", 0, true, true, true, true},
        {"broken patch kernel", allBut("gaborKernel.comp"), "gaborKernel.comp", 1, false, false,
         false, true},
        {"broken autostereogram", allBut("sirdsExpand.comp"), "sirdsExpand.comp", 1, true, false,
         false, true},
        {"broken blit", allBut("blitFragment.frag"), "blitFragment.frag", 1, true, true, false,
         true},
        {"blit only", {"blitVertex.vert", "blitFragment.frag"}, "", 0, false, false, true, false},
        {"half a blit", allBut("blitVertex.vert"), "", 0, true, true, false, true},
        {"broken filter", allBut("gaborPatch.frag"), "gaborPatch.frag", 0, true, true, true, false},
        {"empty folder", {}, "", 0, false, false, false, false},
    };
    for (const LibraryCase& c : cases) {
        QList<QPair<QString, QByteArray>> written;
        if (!c.broken.isEmpty()) {
            written.append({c.broken, kBrokenShader});
        }
        const QString dir = gputest::shaderFolderWith(c.copied, written);
        std::unique_ptr<MetalManager> manager;
        const QByteArray out = gputest::captureStdout([&] {
            manager = std::make_unique<MetalManager>(dir);
            manager->patchFilterProgram(); // built later, silently
        });
        const QList<QByteArray> lines = out.split('\n').mid(0, out.count('\n'));
        ASSERT_EQ(lines.size(), c.lines) << c.what << ": " << out.toStdString();
        for (const QByteArray& line : lines) {
            EXPECT_TRUE(line.startsWith(kLinePrefix) && line.size() > kLinePrefix.size()) << c.what;
        }
        EXPECT_EQ(manager->computePipelineState() != 0, c.compute) << c.what;
        EXPECT_EQ(manager->sirdsPipelineState() != 0, c.sirds) << c.what;
        EXPECT_EQ(manager->blitRenderPipeline() != 0, c.blit) << c.what;
        EXPECT_EQ(manager->patchFilterProgram() != 0, c.filter) << c.what;
    }
}

TEST(MetalManager, MissingFolderIsAMissingLibrary) {
    std::unique_ptr<MetalManager> manager;
    const QByteArray out = gputest::captureStdout(
        [&] { manager = std::make_unique<MetalManager>("/nonexistent/lumenweave/shaders"); });
    EXPECT_EQ(out, kLinePrefix + "default.metallib のロードに失敗しました\n");
    EXPECT_EQ(manager->computePipelineState() + manager->sirdsPipelineState() +
                  manager->blitRenderPipeline() + manager->patchFilterProgram(),
              0u);
    EXPECT_EQ(&MetalManager::shared(), &MetalManager::shared());
}

TEST(GpuContext, WorkPutsBackTheCallersContext) {
    // A widget's context (any context of the share group) current on this thread.
    QOffscreenSurface surface;
    surface.setFormat(QOpenGLContext::globalShareContext()->format());
    surface.create();
    QOpenGLContext foreign;
    foreign.setShareContext(QOpenGLContext::globalShareContext());
    ASSERT_TRUE(foreign.create() && foreign.makeCurrent(&surface));
    ASSERT_TRUE(generatePatchGPU(16, 16, 2, 0, 0, 0.3, 1, 0.96));
    EXPECT_EQ(QOpenGLContext::currentContext(), &foreign);
    foreign.doneCurrent();
}

TEST(GpuContext, TexturesMadeOnAWorkerAreUsableHereAndDeletableAnywhere) {
    GpuTextureRef fromWorker;
    std::thread([&] {
        auto image = makeRGBAImage(8, 4);
        image->fill(QColor(10, 20, 30, 255));
        fromWorker = uploadImageToTexture(image);
    }).join();
    ASSERT_TRUE(fromWorker);
    EXPECT_EQ(readbackTexture(fromWorker)->pixelColor(7, 3), QColor(10, 20, 30, 255));

    // The last reference goes on a thread that never used the GPU.
    const unsigned int name = fromWorker->name();
    std::thread([texture = std::move(fromWorker)]() mutable { texture.reset(); }).join();
    EXPECT_FALSE(MetalManager::shared().makeCurrent().glIsTexture(name));
}

} // namespace
