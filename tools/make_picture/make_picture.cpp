// Draws the hidden picture (a winking sun setting over hills, 640 by 480), encodes it as a JPEG
// with libjpeg and writes it as a C++ byte array, so the program carries it without image files.
//
//   make_picture <output.cpp> <output.h> [<output.jpg>]
//
// The drawing is deterministic: the same build gives the same bytes.

#include <cstddef>
#include <cstdio>
// libjpeg needs size_t and FILE declared before it.
#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int Width = 640;
constexpr int Height = 480;
constexpr int Quality = 88;

struct Colour {
    double R, G, B;
};

Colour Mix(const Colour& a, const Colour& b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return {a.R + (b.R - a.R) * t, a.G + (b.G - a.G) * t, a.B + (b.B - a.B) * t};
}

// Coverage of a pixel by a shape whose signed distance (negative inside) is d: one pixel of
// soft edge, which keeps the outlines smooth.
double Cover(double d) {
    return std::clamp(0.5 - d, 0.0, 1.0);
}

class Canvas {
public:
    Canvas() : pixels_(static_cast<std::size_t>(Width) * Height) {}

    // Paints the pixels of the box (all of them by default) with coverage(x, y) of the colour
    // colourAt(x, y).
    struct Box {
        int Left = 0, Top = 0, Right = Width, Bottom = Height;
    };
    template <class CoverFn, class ColourFn>
    void Paint(CoverFn coverage, ColourFn colourAt, Box box = {}) {
        for (int y = std::max(box.Top, 0); y < std::min(box.Bottom, Height); ++y)
            for (int x = std::max(box.Left, 0); x < std::min(box.Right, Width); ++x) {
                const double a = coverage(x + 0.5, y + 0.5);
                if (a > 0)
                    At(x, y) = Mix(At(x, y), colourAt(x + 0.5, y + 0.5), a);
            }
    }
    template <class CoverFn> void Paint(CoverFn coverage, const Colour& colour, Box box = {}) {
        Paint(
            coverage, [&](double, double) { return colour; }, box);
    }

    Colour& At(int x, int y) { return pixels_[static_cast<std::size_t>(y) * Width + x]; }

    std::vector<unsigned char> Rgb() const {
        std::vector<unsigned char> bytes;
        bytes.reserve(pixels_.size() * 3);
        for (const Colour& c : pixels_)
            for (double v : {c.R, c.G, c.B})
                bytes.push_back(static_cast<unsigned char>(std::lround(std::clamp(v, 0.0, 255.0))));
        return bytes;
    }

private:
    std::vector<Colour> pixels_;
};

// A small fixed pseudo-random sequence for the stars.
class Sequence {
public:
    double Next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state_ >> 11) / static_cast<double>(1ULL << 53);
    }

private:
    std::uint64_t state_ = 0x70c0ffeeULL;
};

constexpr double Pi = std::numbers::pi;
constexpr double SunX = 446, SunY = 206, SunR = 92;
constexpr double HorizonY = 330;

void DrawSky(Canvas& canvas) {
    const Colour top{18, 24, 74}, middle{120, 62, 120}, horizon{252, 156, 78};
    canvas.Paint([](double, double) { return 1.0; },
                 [&](double x, double y) {
                     const double t = y / HorizonY;
                     Colour c = t < 0.55 ? Mix(top, middle, t / 0.55)
                                         : Mix(middle, horizon, (t - 0.55) / 0.45);
                     // The sun's glow warms the sky around it.
                     const double d = std::hypot(x - SunX, y - SunY);
                     return Mix(c, Colour{255, 214, 140}, 0.55 * std::exp(-d / 120.0));
                 });
    Sequence random;
    for (int i = 0; i < 140; ++i) {
        const double sx = random.Next() * Width;
        const double sy = random.Next() * HorizonY * 0.6;
        const double size = 0.6 + random.Next() * 1.1;
        const double bright = (1.0 - sy / (HorizonY * 0.6)) * (0.5 + 0.5 * random.Next());
        if (std::hypot(sx - SunX, sy - SunY) < SunR * 1.8)
            continue;
        const int left = static_cast<int>(sx) - 3, top = static_cast<int>(sy) - 3;
        canvas.Paint(
            [&](double x, double y) { return bright * Cover(std::hypot(x - sx, y - sy) - size); },
            Colour{255, 250, 230}, {left, top, left + 7, top + 7});
    }
}

// Distance to a circular arc of radius r around (cx, cy) between two angles (radians, y down).
double ArcDistance(double x, double y, double cx, double cy, double r, double from, double to) {
    double angle = std::atan2(y - cy, x - cx);
    if (angle < from)
        angle += 2 * Pi;
    if (angle >= from && angle <= to)
        return std::abs(std::hypot(x - cx, y - cy) - r);
    const double ax = cx + r * std::cos(from), ay = cy + r * std::sin(from);
    const double bx = cx + r * std::cos(to), by = cy + r * std::sin(to);
    return std::min(std::hypot(x - ax, y - ay), std::hypot(x - bx, y - by));
}

void DrawSun(Canvas& canvas) {
    canvas.Paint(
        [](double x, double y) { return Cover(std::hypot(x - SunX, y - SunY) - SunR); },
        [](double, double y) {
            return Mix(Colour{255, 236, 120}, Colour{255, 170, 60}, (y - SunY + SunR) / (2 * SunR));
        });
    const Colour ink{120, 52, 20};
    // The open eye.
    canvas.Paint(
        [](double x, double y) {
            return Cover(std::hypot((x - (SunX - 30)) / 0.8, y - (SunY - 22)) - 11);
        },
        ink);
    // The winking eye: a closed lid curving down.
    canvas.Paint(
        [](double x, double y) {
            return Cover(ArcDistance(x, y, SunX + 30, SunY - 30, 13, 0.35, Pi - 0.35) - 2.6);
        },
        ink);
    // The smile.
    canvas.Paint(
        [](double x, double y) {
            return Cover(ArcDistance(x, y, SunX, SunY + 2, 50, 0.45, Pi - 0.45) - 3.4);
        },
        ink);
    // Rosy cheeks.
    for (double side : {-1.0, 1.0})
        canvas.Paint(
            [&](double x, double y) {
                return 0.35 * Cover(std::hypot(x - (SunX + side * 52), y - (SunY + 14)) - 12);
            },
            Colour{240, 96, 80});
}

double Ridge(double x, double base, double a1, double f1, double p1, double a2, double f2,
             double p2) {
    return base + a1 * std::sin(x * f1 + p1) + a2 * std::sin(x * f2 + p2);
}

void DrawHills(Canvas& canvas) {
    struct Layer {
        double Base, A1, F1, P1, A2, F2, P2;
        Colour Top, Bottom;
    };
    const std::array<Layer, 3> layers{{
        {318, 22, 0.011, 0.8, 9, 0.037, 2.0, {150, 86, 128}, {104, 62, 112}},
        {362, 26, 0.008, 2.9, 11, 0.029, 0.4, {84, 58, 104}, {56, 42, 86}},
        {414, 18, 0.013, 4.4, 7, 0.041, 1.3, {38, 36, 62}, {20, 20, 40}},
    }};
    for (const Layer& l : layers) {
        canvas.Paint(
            [&](double x, double y) {
                return Cover(Ridge(x, l.Base, l.A1, l.F1, l.P1, l.A2, l.F2, l.P2) - y);
            },
            [&](double, double y) { return Mix(l.Top, l.Bottom, (y - l.Base + 30) / 140); });
    }
    // A few pines on the front hill.
    const Colour pine{14, 16, 30};
    for (double tx : {70.0, 96.0, 118.0, 540.0, 566.0, 600.0}) {
        const Layer& l = layers[2];
        const double ground = Ridge(tx, l.Base, l.A1, l.F1, l.P1, l.A2, l.F2, l.P2) + 4;
        const double height = 46 + std::fmod(tx, 17.0);
        canvas.Paint(
            [&](double x, double y) {
                const double t = (ground - y) / height; // 0 at the foot, 1 at the tip
                if (t < 0 || t > 1)
                    return 0.0;
                const double half = 13 * (1 - t) * (0.75 + 0.25 * std::cos(t * 3 * 2 * Pi));
                return Cover(std::abs(x - tx) - half);
            },
            pine);
    }
}

struct JpegErrors {
    jpeg_error_mgr Public;
    std::jmp_buf Jump;
};

[[noreturn]] void StopEncoding(j_common_ptr info) {
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    std::cerr << "make_picture: " << text << '\n';
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->Jump, 1);
}

bool Encode(const std::vector<unsigned char>& rgb, unsigned char*& jpeg, unsigned long& size) {
    jpeg_compress_struct info;
    JpegErrors errors;
    info.err = jpeg_std_error(&errors.Public);
    errors.Public.error_exit = StopEncoding;
    if (setjmp(errors.Jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &jpeg, &size);
    info.image_width = Width;
    info.image_height = Height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, Quality, TRUE);
    info.optimize_coding = TRUE;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(
            &rgb[static_cast<std::size_t>(info.next_scanline) * Width * 3]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

bool WriteSource(const std::string& path, const unsigned char* jpeg, unsigned long size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "// Generated by make_picture: the hidden picture, a 640 by 480 JPEG.\n"
           "#include \"hidden_picture.h\"\n\n"
           "const unsigned char HiddenPictureJpeg[] = {";
    for (unsigned long i = 0; i < size; ++i) {
        if (i % 16 == 0)
            out << "\n   ";
        out << ' ' << static_cast<unsigned>(jpeg[i]) << ',';
    }
    out << "\n};\n\nconst std::size_t HiddenPictureJpegSize = sizeof(HiddenPictureJpeg);\n";
    return static_cast<bool>(out.flush());
}

bool WriteHeader(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "#pragma once\n"
           "// Generated by make_picture: the hidden picture, a 640 by 480 JPEG.\n\n"
           "#include <cstddef>\n\n"
           "extern const unsigned char HiddenPictureJpeg[];\n"
           "extern const std::size_t HiddenPictureJpegSize;\n";
    return static_cast<bool>(out.flush());
}

bool WriteJpeg(const std::string& path, const unsigned char* jpeg, unsigned long size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(jpeg), static_cast<std::streamsize>(size));
    return static_cast<bool>(out.flush());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::cerr << "usage: make_picture <output.cpp> <output.h> [<output.jpg>]\n";
        return 2;
    }
    Canvas canvas;
    DrawSky(canvas);
    DrawSun(canvas);
    DrawHills(canvas);

    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (!Encode(canvas.Rgb(), jpeg, size)) {
        std::free(jpeg);
        return 1;
    }
    bool written = WriteSource(argv[1], jpeg, size) && WriteHeader(argv[2]);
    if (written && argc == 4)
        written = WriteJpeg(argv[3], jpeg, size);
    std::free(jpeg);
    if (!written) {
        std::cerr << "make_picture: cannot write the output files\n";
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
