// The field as NumPy arrays: the renderer's own options, request and CPU route,
// so an array holds the bytes lumenweave-render writes for the same settings.

// Before any Qt header: Qt's slots macro breaks Python's headers.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "FrameImage.h"
#include "RenderOptions.h"
#include "RenderRequest.h"
#include "TileSet.h"

#include <cstring>
#include <memory>
#include <mutex>

namespace py = pybind11;

namespace {

QString text(const py::handle& value) {
    return QString::fromStdString(py::str(value).cast<std::string>());
}

// A number as the command line spells it: an integer in full, a float as the
// shortest decimal that reads back as the same double (repr). NumPy's scalars
// count; a string is taken as written ("0x1f").
QString numberText(const char* what, const py::handle& value) {
    if (py::isinstance<py::str>(value))
        return text(value);
    if (!py::isinstance<py::bool_>(value)) {
        if (PyIndex_Check(value.ptr())) {
            const auto whole = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
            if (!whole)
                throw py::error_already_set();
            return text(py::repr(whole));
        }
        if (py::isinstance<py::float_>(value) || py::hasattr(value, "__float__"))
            return text(py::repr(py::float_(py::reinterpret_borrow<py::object>(value))));
    }
    throw py::type_error(std::string(what) + " must be a number, not " +
                         py::type::handle_of(value).attr("__name__").cast<std::string>());
}

// The keyword arguments as the renderer's options: phase_drift=True is
// --phase-drift, patch_size=64 is --patch-size=64; anchored_left is the CPU
// generator, whose autostereogram is left-anchored.
struct Arguments {
    QStringList list;
    bool anchoredLeft = false;
};

Arguments argumentsOf(const py::handle& seed, const py::handle& size, const py::kwargs& settings) {
    Arguments a;
    a.list << QStringLiteral("--seed=") + numberText("seed", seed);
    const py::sequence pair = py::isinstance<py::sequence>(size) && !py::isinstance<py::str>(size)
                                  ? size.cast<py::sequence>()
                                  : py::sequence();
    if (pair.size() != 2)
        throw py::value_error("size must be (width, height)");
    a.list << QStringLiteral("--size=%1x%2")
                  .arg(numberText("width", pair[0]), numberText("height", pair[1]));
    for (const auto& [key, value] : settings) {
        const QString name = text(key);
        if (name == QLatin1String("anchored_left")) {
            if (!py::isinstance<py::bool_>(value))
                throw py::type_error("anchored_left must be True or False");
            a.anchoredLeft = value.cast<bool>();
            continue;
        }
        const QString option = QStringLiteral("--") + QString(name).replace('_', '-');
        if (py::isinstance<py::bool_>(value)) {
            if (value.cast<bool>())
                a.list << option;
        } else if (py::isinstance<py::str>(value)) {
            a.list << option + '=' + text(value);
        } else {
            a.list << option + '=' + numberText(qPrintable(name), value);
        }
    }
    return a;
}

RenderOptions parse(const Arguments& arguments, OptionScope scope) {
    const ParsedRenderOptions parsed = parseRenderOptions(arguments.list, scope);
    if (!parsed.error.isEmpty())
        throw py::value_error(parsed.error.toStdString());
    RenderOptions options = parsed.options;
    options.request.withoutGpu = true;
    if (arguments.anchoredLeft)
        options.request.renderingMode = AppModel::RenderingMode::cpu;
    return options;
}

// The picture's colour bytes, rows from the top, packed while the GIL is free.
struct Packed {
    std::unique_ptr<std::uint8_t[]> bytes;
    int w = 0, h = 0;
};

Packed pack(const FrameImage& frame) {
    if (frame.failure != FrameImage::Failure::none)
        throw std::runtime_error(failureText(frame.failure).toStdString());
    const QImage& image = frame.image;
    Packed p{nullptr, image.width(), image.height()};
    p.bytes.reset(new std::uint8_t[std::size_t(p.w) * std::size_t(p.h) * 3]);
    std::uint8_t* out = p.bytes.get();
    for (int y = 0; y < p.h; ++y) {
        const std::uint8_t* in = image.constScanLine(y);
        for (int x = 0; x < p.w; ++x, in += 4, out += 3)
            std::memcpy(out, in, 3);
    }
    return p;
}

// An (h, w, 3) array over the packed bytes, which it then owns: no copy under the GIL.
py::array_t<std::uint8_t> arrayOf(Packed p) {
    const py::capsule owner(p.bytes.get(),
                            [](void* bytes) { delete[] static_cast<std::uint8_t*>(bytes); });
    std::uint8_t* bytes = p.bytes.release();
    return py::array_t<std::uint8_t>({p.h, p.w, 3}, bytes, owner);
}

// Past the CPU routes' largest side a picture would come out cut short.
void checkSize(const RequestRenderer& renderer, const RenderRequest& request) {
    const QString refusal = frameSizeRefusal(renderer.snapshotAt(request.time),
                                             request.animationRenderScale, kMaxImageSide, false);
    if (!refusal.isEmpty())
        throw py::value_error(refusal.toStdString());
}

py::array_t<std::uint8_t> renderArray(const RenderRequest& request) {
    Packed p;
    {
        py::gil_scoped_release unlocked;
        RequestRenderer renderer(request);
        checkSize(renderer, request);
        p = pack(renderer.frame());
    }
    return arrayOf(std::move(p));
}

// The frames of a run, made one at a time as they are asked for.
class Frames {
public:
    explicit Frames(const RenderOptions& options)
        : m_options(options), m_count(options.frameCount()) {
        py::gil_scoped_release unlocked;
        m_renderer = std::make_unique<RequestRenderer>(options.request);
        checkSize(*m_renderer, options.request);
    }

    std::int64_t size() const { return m_count; }

    py::array_t<std::uint8_t> next() {
        Packed p;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard guard(m_lock);
            // Neither exception touches Python objects.
            if (m_next >= m_count)
                throw py::stop_iteration();
            const std::optional<Rational> t = m_options.frameTime(m_next++);
            if (!t)
                throw std::overflow_error("the frame's time is out of range");
            p = pack(m_renderer->frameAt(*t));
        }
        return arrayOf(std::move(p));
    }

private:
    RenderOptions m_options;
    std::int64_t m_count;
    std::int64_t m_next = 0;
    std::unique_ptr<RequestRenderer> m_renderer;
    std::mutex m_lock; // one frame at a time: the renderer keeps a cache
};

template <typename T> py::array_t<T> arrayOf(const std::vector<T>& values) {
    return py::array_t<T>(py::ssize_t(values.size()), values.data());
}

py::dict tileSet(const py::handle& seed, const py::handle& size, const py::kwargs& settings) {
    const RenderRequest request =
        parse(argumentsOf(seed, size, settings), OptionScope::picture).request;
    const TileSetInputs in = request.tileSetInputs();
    TileSet tiles;
    prepareAnimationTiles(tiles, in);
    const CanvasGeometry g = canvasGeometry(
        in.viewWidth, in.viewHeight, in.backingScale, in.maxPatchSize, in.isAutostereogramMode,
        in.isStereoscopicMode, in.sirdsStripColumns, in.stereoLayout, in.stereoPair);
    std::vector<double> columns[4];
    for (const TileParams& p : tiles.animationTileParams) {
        columns[0].push_back(p.orientation);
        columns[1].push_back(p.frequency);
        columns[2].push_back(p.sigma);
        columns[3].push_back(p.contrast);
    }
    // Cells as the picture shows them: the tile grid counts rows from the
    // bottom, an array from the top.
    py::array_t<std::int32_t> cells({g.rows, g.cols});
    auto c = cells.mutable_unchecked<2>();
    const std::vector<int>& indices = tiles.animationTileVariantIndices;
    for (int row = 0; row < g.rows; ++row)
        for (int col = 0; col < g.cols; ++col)
            c(g.rows - 1 - row, col) = indices[std::size_t(row) * std::size_t(g.cols) + col];
    py::dict result;
    result["orientation"] = arrayOf(columns[0]);
    result["frequency"] = arrayOf(columns[1]);
    result["sigma"] = arrayOf(columns[2]);
    result["contrast"] = arrayOf(columns[3]);
    result["hue"] = arrayOf(tiles.animationTileHues);
    result["rotation_direction"] = arrayOf(tiles.animationTileRotationDirections);
    result["breathing_offset"] = arrayOf(tiles.breathingPhaseOffsets);
    result["cells"] = cells;
    result["cell_size"] = g.P;
    return result;
}

} // namespace

PYBIND11_MODULE(lumenweave, m) {
    // The docstrings begin with signatures that name the settings.
    py::options options;
    options.disable_function_signatures();
    m.doc() = "Lumenweave's field of Gabor patches as NumPy arrays, byte for byte what "
              "lumenweave-render writes for the same seed and settings, without a display.";

    m.def(
        "render",
        [](const py::handle& seed, const py::handle& size, const py::kwargs& settings) {
            return renderArray(
                parse(argumentsOf(seed, size, settings), OptionScope::picture).request);
        },
        py::arg("seed"), py::arg("size") = py::make_tuple(800, 600),
        R"(render(seed, size=(800, 600), **settings) -> numpy.ndarray

The field for seed (0 to 2**64 - 1) at size = (width, height) in points, as an
(H, W, 3) uint8 array of RGB rows from the top: the picture's pixels (size times
scale; a stereo pair in its layout). Settings are lumenweave-render's options
with _ for -: scale, patch_size, render_scale, time (seconds), stereo, disparity,
stereo_layout ('parallel', 'cross', 'anaglyph', 'interleaved'), pair_width
(centimetres or 'full'), gap (centimetres), fusion_marks, autostereogram,
columns, color, black_level, phase, breathing_phase, rotation, phase_drift,
breathing, spins, illuminant, speed ('slow', 'normal', 'fast'), phase_speed,
rotation_speed, spin_interval; anchored_left=True gives the CPU
generator's left-anchored autostereogram instead of the centred one.
Bad values raise ValueError. Other Python threads run while it renders.)");

    py::class_<Frames>(m, "Frames",
                       "An iterator over the frames of a run, made as they are asked for.")
        .def("__iter__", [](Frames& f) -> Frames& { return f; })
        .def("__next__", &Frames::next)
        .def("__len__", &Frames::size);

    m.def(
        "frames",
        [](const py::handle& seed, const py::handle& size, const py::handle& fps,
           const py::handle& duration, const py::kwargs& settings) {
            Arguments a = argumentsOf(seed, size, settings);
            a.list << QStringLiteral("--fps=") + numberText("fps", fps)
                   << QStringLiteral("--duration=") + numberText("duration", duration);
            return std::make_unique<Frames>(parse(a, OptionScope::frames));
        },
        py::arg("seed"), py::arg("size"), py::arg("fps"), py::arg("duration"),
        R"(frames(seed, size, fps, duration, **settings) -> iterator of numpy.ndarray

The frames of duration seconds at fps (duration x fps a whole number): frame k
is render(seed, size, time=time + k / fps, **settings), made one at a time.)");

    m.def("tile_set", &tileSet, py::arg("seed"), py::arg("size") = py::make_tuple(800, 600),
          R"(tile_set(seed, size=(800, 600), **settings) -> dict

The numbers behind the picture: per parameter set the arrays 'orientation'
(degrees), 'frequency', 'sigma', 'contrast', 'hue', 'rotation_direction' and
'breathing_offset' (radians); 'cells', each cell's set index as a (rows,
columns) array with the top row first; 'cell_size' in pixels. Takes render's
settings; scale, patch_size, stereo, its layout and pair, autostereogram and
columns change it.)");
}
