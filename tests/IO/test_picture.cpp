#include <gtest/gtest.h>

#include <filesystem>

#include "IO/picture.h"
#include "support/testkit.h"

namespace {

// Makes the same 61x37 picture (with a half-transparent band where the format
// has alpha) in each format, and after our conversion compares the BMP's pixels
// with the source's as an outside reader sees them, laid over white.
const char* k_make_and_compare = R"PY(
import sys
from PIL import Image
mode, folder = sys.argv[1], sys.argv[2]
w, h = 61, 37
img = Image.new("RGBA", (w, h))
for y in range(h):
    for x in range(w):
        a = 128 if 10 <= y < 20 else 255
        img.putpixel((x, y), ((x * 4) % 256, (y * 7) % 256, (x * y) % 256, a))
src = folder + "/src." + mode
if mode == "png":
    img.save(src)
elif mode == "tiff":
    img.save(src)
else:
    flat = Image.new("RGB", (w, h), (255, 255, 255))
    flat.paste(img, mask=img.split()[3])
    if mode == "gif":
        flat.quantize(256).save(src)
    elif mode == "jpg":
        flat.save(src, quality=95)
    else:
        flat.save(src)
print(src)
)PY";

const char* k_compare = R"PY(
import sys
from PIL import Image
src, out, tol = sys.argv[1], sys.argv[2], int(sys.argv[3])
a = Image.open(src)
if a.mode in ("RGBA", "LA", "P"):
    a = a.convert("RGBA")
    white = Image.new("RGBA", a.size, (255, 255, 255, 255))
    a = Image.alpha_composite(white, a)
a = a.convert("RGB")
b = Image.open(out)
assert b.format == "BMP", b.format
b = b.convert("RGB")
assert a.size == b.size, (a.size, b.size)
worst = max(abs(p - q) for pa, pb in zip(a.getdata(), b.getdata()) for p, q in zip(pa, pb))
print(worst)
sys.exit(0 if worst <= tol else 1)
)PY";

}  // namespace

TEST(Picture, ConvertsEachFormatToBmpAsPeersSeeIt) {
  REQUIRE_TOOL("/usr/bin/python3");
  REQUIRE_TOOL("file");
  testkit::TempDir dir;
  testkit::write_text(dir.path() / "make.py", k_make_and_compare);
  testkit::write_text(dir.path() / "compare.py", k_compare);
  for (std::string mode : {"png", "gif", "tiff", "jpg", "bmp"}) {
    auto made = testkit::run("/usr/bin/python3 " + dir.str("make.py") + " " + mode + " " + dir.str());
    ASSERT_EQ(made.rc, 0) << made.err;
    std::string src = dir.str("src." + mode), out = dir.str("out-" + mode + ".bmp");
    ASSERT_EQ(convert_picture_to_bmp(src.c_str(), out.c_str()), 0) << mode;
    EXPECT_NE(testkit::run("file -b " + out).out.find("PC bitmap"), std::string::npos) << mode;
    // Lossless sources match exactly; the JPEG decoders may round differently.
    auto cmp = testkit::run("/usr/bin/python3 " + dir.str("compare.py") + " " + src + " " + out + " " +
                            (mode == "jpg" ? "3" : "1"));
    EXPECT_EQ(cmp.rc, 0) << mode << ": worst difference " << cmp.out << cmp.err;
  }
}

TEST(Picture, RefusesWhatIsNoPictureAndLeavesNothing) {
  testkit::TempDir dir;
  std::string out = dir.str("out.bmp");
  testkit::write_text(dir.path() / "text.png", "not a picture at all");
  EXPECT_EQ(convert_picture_to_bmp(dir.str("text.png").c_str(), out.c_str()), -1);
  // A PNG signature followed by garbage.
  testkit::write_text(dir.path() / "cut.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
  EXPECT_EQ(convert_picture_to_bmp(dir.str("cut.png").c_str(), out.c_str()), -1);
  EXPECT_EQ(convert_picture_to_bmp(dir.str("missing.jpg").c_str(), out.c_str()), -1);
  EXPECT_FALSE(std::filesystem::exists(out));
}
