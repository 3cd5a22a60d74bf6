// Real files made by imagemagick, ffmpeg and python (tools/images/make-sample-files.sh):
// each is recognised as its type and, where the type has a size rule, sized to
// its exact length, alone and when other data follows it on the source.
#include <gtest/gtest.h>

#include <random>

#include "support/signature_test_support.h"
#include "platform/error_codes.h"

namespace kestrel::test {
namespace {

struct Expected {
  const char* file;
  const char* extension;
  bool sized;
};

const Expected kSamples[] = {
    {"exif.jpg", "jpg", true},      {"jfif.jpg", "jpg", true},       {"noise.jpg", "jpg", true},
    {"raw.jpg", "jpg", true},       {"camera.jpg", "jpg", true},     {"progressive.jpg", "jpg", true},
    {"restart.jpg", "jpg", true},   {"image.png", "png", true},      {"image.gif", "gif", true},
    {"image.bmp", "bmp", true},     {"image-v5.bmp", "bmp", true},   {"gray.tif", "tif", true},
    {"pages.tif", "tif", true},     {"tiled.tif", "tif", true},      {"still.heic", "heic", true},
    {"sound.wav", "wav", true},     {"clip.avi", "avi", true},       {"song.mp3", "mp3", true},
    {"tune.mid", "mid", true},      {"clip.mp4", "mp4", true},       {"clip.mov", "mov", true},
    {"clip.3gp", "3gp", true},      {"voice.m4a", "m4a", true},      {"clip.mkv", "mkv", true},
    {"clip.webm", "mkv", true},     {"tone.flac", "flac", true},     {"tone.ogg", "ogg", true},
    {"doc.pdf", "pdf", true},       {"gs.pdf", "pdf", true},         {"linear.pdf", "pdf", true},
    {"updated.pdf", "pdf", true},   {"archive.zip", "zip", true},    {"streamed.zip", "zip", true},
    {"report.docx", "docx", true},  {"sheet.xlsx", "xlsx", true},    {"word.doc", "doc", true},
    {"book.xls", "xls", true},      {"gsf.doc", "doc", true},        {"packed.7z", "7z", true},
    {"notes.txt.gz", "gz", true},   {"members.gz", "gz", true},      {"program.exe", "exe", true},
    {"library.dll", "dll", true},
};

TEST(SignatureSamples, RecognisedAndSizedToTheirExactLength) {
  for (const Expected& sample : kSamples) {
    SCOPED_TRACE(sample.file);
    std::vector<uint8_t> bytes = SampleFile(sample.file);
    ASSERT_GT(bytes.size(), 0u);
    ImageSource image(bytes);
    int answer = 0;
    IdentifyResult result = IdentifyAt(image, 0, &answer);
    EXPECT_EQ(result.extension, sample.extension);
    EXPECT_EQ(result.hasSizeRule, sample.sized);
    if (sample.sized) {
      EXPECT_EQ(answer, kSuccess);
      EXPECT_EQ(result.size, bytes.size());
      EXPECT_FALSE(result.damaged);
    } else {
      EXPECT_EQ(answer, kErrInvalidParameter);
    }
  }
}

// On a device a file is followed by slack and then by other files: the types
// that end at a marker or a header length still come out at their own length.
TEST(SignatureSamples, SizedExactlyWhenAnotherFileFollowsAfterZeroSlack) {
  for (const char* name : {"exif.jpg", "jfif.jpg", "noise.jpg", "image.png", "image.gif", "image.bmp", "sound.wav",
                           "clip.avi", "tune.mid"}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> file = SampleFile(name);
    std::vector<uint8_t> device(1024, 0);  // two empty sectors before the hit
    Put(device, 1024, file);
    size_t next = (device.size() + 511) / 512 * 512;
    device.resize(next, 0);
    Put(device, next, SampleFile("image.png"));
    ImageSource image(device);
    int answer = 0;
    IdentifyResult result = IdentifyAt(image, 2, &answer);
    EXPECT_EQ(answer, kSuccess);
    EXPECT_EQ(result.size, file.size());
    EXPECT_EQ(result.name, std::string("2.") + result.extension);
  }
}

// An MP3 ends 128 bytes after its last TAG; the walk that finds it stops at
// the next file, so that is what follows it here.
TEST(SignatureSamples, Mp3EndsAfterItsId3v1Tag) {
  std::vector<uint8_t> mp3 = SampleFile("song.mp3");
  std::vector<uint8_t> device = mp3;
  device.resize((device.size() + 511) / 512 * 512, 0);
  size_t next = device.size();
  Put(device, next, SampleFile("jfif.jpg"));
  ImageSource image(device);
  IdentifyResult result = IdentifyAt(image, 0);
  EXPECT_EQ(result.extension, "mp3");
  EXPECT_EQ(result.size, mp3.size());
}

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(random() | 1);  // never zero
  return bytes;
}

// Old data in the slack after a real picture used to run the file on to the
// next file; the marker walk ends it at its own EOI.
TEST(JpegEnd, RealPictureEndsAtItsEoiWhateverFollowsInItsSector) {
  std::vector<uint8_t> jpeg = SampleFile("jfif.jpg");
  std::vector<uint8_t> device = jpeg;
  size_t slackEnd = (jpeg.size() + 511) / 512 * 512;
  Put(device, jpeg.size(), RandomBytes(slackEnd - jpeg.size(), 1));  // old data in the slack
  Put(device, slackEnd, RandomBytes(3 * 512, 2));                       // and three more sectors of it
  Put(device, slackEnd + 3 * 512, SampleFile("image.gif"));
  ImageSource image(device);
  IdentifyResult result = IdentifyAt(image, 0);
  EXPECT_EQ(result.extension, "jpg");
  // The marker walk ends it at its own EOI, whatever follows.
  EXPECT_EQ(result.size, jpeg.size());
  EXPECT_FALSE(result.damaged);
}

TEST(JpegEnd, MarkerEndingExactlyAtASectorBoundaryIsTheEnd) {
  std::vector<uint8_t> jpeg = SampleFile("jfif.jpg");
  // Grow the comment-free body so that FF D9 ends at byte 2048: pad the APP0
  // segment's thumbnail area is not possible, so build the file around it.
  std::vector<uint8_t> file(2048, 0x11);
  Put(file, 0, std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + 20));
  file[2046] = 0xFF;
  file[2047] = 0xD9;
  std::vector<uint8_t> device = file;
  Put(device, 2048, RandomBytes(512, 3));
  Put(device, 2560, SampleFile("image.png"));
  ImageSource image(device);
  IdentifyResult result = IdentifyAt(image, 0);
  EXPECT_EQ(result.size, 2048u);
}

TEST(JpegEnd, CleanMarkerInTheHitSectorEndsTheFileThere) {
  std::vector<uint8_t> jpeg = SampleFile("jfif.jpg");
  std::vector<uint8_t> device(jpeg.begin(), jpeg.begin() + 20);
  device.resize(300, 0x22);
  device[298] = 0xFF;
  device[299] = 0xD9;
  device.resize(512, 0);
  Put(device, 512, RandomBytes(2048, 4));
  ImageSource image(device);
  EXPECT_EQ(IdentifyAt(image, 0).size, 300u);
}

// A thumbnail inside the EXIF block ends with FF D9 too, and cameras pad that
// block with zeros; the picture's own, later clean end is the one taken.
TEST(JpegEnd, PaddedThumbnailEndDoesNotCutThePicture) {
  std::vector<uint8_t> file(6 * 512, 0x33);
  Put(file, 0, std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE1, 0x08, 0x00});
  Put(file, 6, "Exif");
  // Thumbnail end at 700, zeros to the end of sector 1.
  file[698] = 0xFF;
  file[699] = 0xD9;
  std::fill(file.begin() + 700, file.begin() + 1024, 0);
  // The picture's end in sector 5.
  file[5 * 512 + 100] = 0xFF;
  file[5 * 512 + 101] = 0xD9;
  std::fill(file.begin() + 5 * 512 + 102, file.end(), 0);
  std::vector<uint8_t> device = file;
  Put(device, file.size(), SampleFile("image.gif"));
  ImageSource image(device);
  EXPECT_EQ(IdentifyAt(image, 0).size, 5u * 512 + 102);
}

}  // namespace
}  // namespace kestrel::test

namespace kestrel::test {
namespace {

// Damaged copies of the samples (bytes changed near the start, tails cut off):
// whatever is recognised is never sized past what remains of the source.
TEST(SignatureSamples, DamagedCopiesNeverSizePastTheSourceEnd) {
  std::mt19937 random(7);
  size_t recognised = 0;
  for (const Expected& sample : kSamples) {
    std::vector<uint8_t> original = SampleFile(sample.file);
    for (int round = 0; round < 8; ++round) {
      std::vector<uint8_t> bytes = original;
      for (int k = 0; k < 4; ++k) bytes[random() % std::min<size_t>(bytes.size(), 600)] = uint8_t(random());
      bytes.resize(1 + random() % bytes.size());
      ImageSource image(bytes);
      int answer = 0;
      IdentifyResult result = IdentifyAt(image, 0, &answer);
      if (answer == kSuccess) {
        ++recognised;
        EXPECT_LE(result.size, bytes.size()) << sample.file << " round " << round;
      }
    }
  }
  EXPECT_GT(recognised, 100u);
}

}  // namespace
}  // namespace kestrel::test
