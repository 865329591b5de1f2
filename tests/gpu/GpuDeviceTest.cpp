#include "GpuDevice.h"
#include "GpuGeneration.h"
#include "GpuTestSupport.h"

#include <QFile>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions_4_3_Core>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

namespace {

const QByteArray kLinePrefix = "[GPU] シェーダーコンパイルエラー: ";

TEST(GpuDevice, BuildsWhatTheLibraryHoldsAndReportsTheFirstFailureOnce) {
    const QStringList all = {"gaborKernel.comp", "sirdsExpand.comp", "blitVertex.vert",
                             "blitFragment.frag", "gaborPatch.frag"};
    // (files, console lines, built). Per file of all: c copied, b written with a
    // compile error, - absent; x: no folder at all, two searched. Built: 1 patch
    // kernel (both its programs), 2 autostereogram, 4 blit, 8 filter.
    const std::tuple<const char*, int, int> cases[] = {
        {"ccccc", 0, 15},        {"bcccc", 1, 8}, {"cbccc", 1, 1 | 8},
        {"cccbc", 1, 1 | 2 | 8}, {"--cc-", 0, 4}, {"cc-cc", 0, 1 | 2 | 8},
        {"ccccb", 0, 1 | 2 | 4}, {"-----", 0, 0}, {"xxxxx", 1, 0}};
    for (const auto& [files, lines, built] : cases) {
        QTemporaryDir dir;
        const QStringList folders = files[0] == 'x'
                                        ? QStringList{dir.filePath("none"), dir.filePath("nor")}
                                        : QStringList{dir.path()};
        for (int i = 0; i < all.size(); ++i) {
            QFile file(dir.filePath(all[i]));
            if (files[i] == 'c')
                QFile::copy(gputest::builtShaderDirectory() + "/" + all[i], file.fileName());
            if (files[i] == 'c' && i == 0)
                QFile::copy(gputest::builtShaderDirectory() + "/gaborKernelExact.comp",
                            dir.filePath("gaborKernelExact.comp"));
            else if (files[i] == 'b' && file.open(QIODevice::WriteOnly))
                file.write("#version 430 core\nvoid main() { undefinedCall(); }\n");
        }
        testing::internal::CaptureStdout();
        const GpuDevice manager(folders);
        manager.patchFilterProgram(); // built later, silently
        const QByteArray out = QByteArray::fromStdString(testing::internal::GetCapturedStdout());
        EXPECT_EQ(out.count('\n'), lines) << files << ": " << out.toStdString();
        EXPECT_EQ(out.startsWith(kLinePrefix) && out.size() > kLinePrefix.size() + 1, lines > 0)
            << files;
        EXPECT_FALSE(out.contains('\0')) << files << ": the driver's log is text";
        if (files[0] == 'x') {
            EXPECT_EQ(out, kLinePrefix + "シェーダーライブラリが見つかりません: " +
                               folders.join(", ").toUtf8() + "\n");
        }
        const unsigned int states[] = {manager.patchKernel() && manager.exactPatchKernel(),
                                       manager.sirdsKernel(), manager.blitProgram(),
                                       manager.patchFilterProgram()};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(states[i] != 0, bool(built >> i & 1)) << files << ", part " << i;
    }
}

TEST(GpuContext, WorkPutsBackTheCallersContextAndTexturesCrossThreads) {
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

    // Made on a worker, usable here; the last reference goes on a thread that
    // never used the GPU.
    GpuTextureRef texture;
    std::thread([&] { texture = uploadImageToTexture(pattern(8, 4)); }).join();
    ASSERT_TRUE(texture);
    EXPECT_EQ(*readbackTexture(texture), pattern(8, 4));
    const unsigned int name = texture->name();
    std::thread([texture = std::move(texture)]() mutable { texture.reset(); }).join();
    EXPECT_FALSE(GpuDevice::shared().makeCurrent().glIsTexture(name));
}

} // namespace
