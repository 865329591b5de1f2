#include "MetalManager.h"
#include "GpuGeneration.h"
#include "GpuTestSupport.h"

#include <QFile>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions_4_3_Core>
#include <gtest/gtest.h>
#include <thread>

namespace {

using gputest::captureStdout;
using gputest::shaderFolderWith;

const QStringList kAllShaders = {"gaborKernel.comp", "sirdsExpand.comp", "blitVertex.vert",
                                 "blitFragment.frag", "gaborPatch.frag"};
const QByteArray kLinePrefix = "[Metal] シェーダーコンパイルエラー: ";

QList<QByteArray> consoleLines(const QByteArray& output) {
    QList<QByteArray> lines = output.split('\n');
    lines.removeAll(QByteArray());
    return lines;
}

struct Pipelines {
    bool compute, sirds, blit;
    bool operator==(const Pipelines&) const = default;
};

Pipelines pipelinesOf(const MetalManager& manager) {
    return {manager.computePipelineState() != 0, manager.sirdsPipelineState() != 0,
            manager.blitRenderPipeline() != 0};
}

TEST(MetalManager, SharedInstanceBuildsEveryPipelineFromTheBuiltLibrary) {
    MetalManager& manager = MetalManager::shared();
    EXPECT_EQ(&manager, &MetalManager::shared());
    EXPECT_EQ(pipelinesOf(manager), (Pipelines{true, true, true}));
    EXPECT_NE(manager.patchFilterProgram(), 0u);
    EXPECT_GE(manager.maxTotalThreadsPerThreadgroup(), 64);
}

TEST(MetalManager, MissingFolderReportsOneLineAndLeavesEveryPipelineAbsent) {
    std::unique_ptr<MetalManager> manager;
    const QByteArray out = captureStdout(
        [&] { manager = std::make_unique<MetalManager>("/nonexistent/lumenweave/shaders"); });
    EXPECT_EQ(out, kLinePrefix + "default.metallib のロードに失敗しました\n");
    EXPECT_EQ(pipelinesOf(*manager), (Pipelines{false, false, false}));
    EXPECT_EQ(manager->patchFilterProgram(), 0u);
}

TEST(MetalManager, BuildErrorReportsOneLineAndStopsTheLaterPipelines) {
    const QByteArray broken = "#version 430 core\nlayout(local_size_x = 1) in;\nvoid main() { "
                              "undefinedCall(); }\n";
    struct Case {
        QString brokenFile;
        Pipelines expected;
    };
    for (const Case& c : {Case{"gaborKernel.comp", {false, false, false}},
                          Case{"sirdsExpand.comp", {true, false, false}},
                          Case{"blitFragment.frag", {true, true, false}}}) {
        QStringList others = kAllShaders;
        others.removeAll(c.brokenFile);
        const QString dir = shaderFolderWith(others, {{c.brokenFile, broken}});
        std::unique_ptr<MetalManager> manager;
        const QByteArray out =
            captureStdout([&] { manager = std::make_unique<MetalManager>(dir); });
        const QList<QByteArray> lines = consoleLines(out);
        ASSERT_EQ(lines.size(), 1) << c.brokenFile.toStdString() << ": " << out.toStdString();
        EXPECT_TRUE(lines[0].startsWith(kLinePrefix));
        EXPECT_GT(lines[0].size(), kLinePrefix.size()) << "the driver's log is reported";
        EXPECT_EQ(pipelinesOf(*manager), c.expected) << c.brokenFile.toStdString();
    }
}

TEST(MetalManager, MissingEntryPointsAreSkippedSilently) {
    struct Case {
        QStringList files;
        Pipelines expected;
    };
    for (const Case& c : {Case{{"blitVertex.vert", "blitFragment.frag"}, {false, false, true}},
                          Case{{"sirdsExpand.comp", "blitVertex.vert"}, {false, true, false}},
                          Case{{"gaborKernel.comp", "blitFragment.frag"}, {true, false, false}},
                          Case{{}, {false, false, false}}}) {
        const QString dir = shaderFolderWith(c.files);
        std::unique_ptr<MetalManager> manager;
        const QByteArray out =
            captureStdout([&] { manager = std::make_unique<MetalManager>(dir); });
        EXPECT_EQ(out, QByteArray()) << c.files.join(',').toStdString();
        EXPECT_EQ(pipelinesOf(*manager), c.expected) << c.files.join(',').toStdString();
    }
}

TEST(MetalManager, PatchFilterProgramIsBuiltLazilyAndSilently) {
    const QString onlyFilter = shaderFolderWith({"gaborPatch.frag"});
    const QString brokenFilter = shaderFolderWith({}, {{"gaborPatch.frag", "not glsl"}});
    std::unique_ptr<MetalManager> withFilter, withBroken;
    const QByteArray out = captureStdout([&] {
        withFilter = std::make_unique<MetalManager>(onlyFilter);
        withBroken = std::make_unique<MetalManager>(brokenFilter);
        EXPECT_NE(withFilter->patchFilterProgram(), 0u);
        EXPECT_EQ(withFilter->patchFilterProgram(), withFilter->patchFilterProgram());
        EXPECT_EQ(withBroken->patchFilterProgram(), 0u);
    });
    EXPECT_EQ(out, QByteArray());
}

TEST(GpuContext, WorkOnTheThreadContextPutsBackTheCallersContext) {
    // A widget's context (any context of the share group) current on this thread.
    QOffscreenSurface surface;
    surface.setFormat(QOpenGLContext::globalShareContext()->format());
    surface.create();
    QOpenGLContext foreign;
    foreign.setShareContext(QOpenGLContext::globalShareContext());
    ASSERT_TRUE(foreign.create());
    ASSERT_TRUE(foreign.makeCurrent(&surface));

    ASSERT_TRUE(generatePatchGPU(16, 16, 2, 0, 0, 0.3, 1, 0.96));
    EXPECT_EQ(QOpenGLContext::currentContext(), &foreign);
    foreign.doneCurrent();
}

TEST(GpuContext, TexturesMadeOnAWorkerAreUsableHereAndDeletableAnywhere) {
    MetalManager& manager = MetalManager::shared();
    GpuTextureRef fromWorker;
    std::thread worker([&] {
        auto image = makeRGBAImage(8, 4);
        image->fill(QColor(10, 20, 30, 255));
        fromWorker = uploadImageToTexture(image);
    });
    worker.join();
    ASSERT_TRUE(fromWorker);
    auto back = readbackTexture(fromWorker);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->pixelColor(7, 3), QColor(10, 20, 30, 255));

    // The last reference goes on a thread that never used the GPU.
    const unsigned int name = fromWorker->name();
    std::thread([texture = std::move(fromWorker)]() mutable { texture.reset(); }).join();
    EXPECT_FALSE(manager.makeCurrent().glIsTexture(name));
}

} // namespace
