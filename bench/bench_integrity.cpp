// Speed of the whole-file content check on camera-sized photos: a 12
// megapixel JPEG (4000 x 3000, quality 90, made here with libjpeg-turbo) held
// in memory and read from a file in the page cache, as recovery checks each
// file right after writing it. MB/s of JPEG bytes checked, one core.
#include <benchmark/benchmark.h>

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "carve/integrity/integrity_check.h"

namespace {

// Smooth shading with fine noise on top, so the photo compresses about as a
// camera's does (a few bits per pixel).
std::vector<uint8_t> MakePhoto(int width, int height) {
  std::vector<uint8_t> pixels(size_t(width) * height * 3);
  std::mt19937 random(7);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &pixels[(size_t(y) * width + x) * 3];
      double wave = std::sin(x / 97.0) * std::cos(y / 53.0);
      int noise = int(random() % 24);
      p[0] = uint8_t(std::clamp(128 + int(90 * wave) + noise, 0, 255));
      p[1] = uint8_t(std::clamp(100 + x * 120 / width + noise, 0, 255));
      p[2] = uint8_t(std::clamp(60 + y * 150 / height + noise, 0, 255));
    }
  }
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long outBytes = 0;
  jpeg_mem_dest(&info, &out, &outBytes);
  info.image_width = JDIMENSION(width);
  info.image_height = JDIMENSION(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = &pixels[size_t(info.next_scanline) * width * 3];
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<uint8_t> jpeg(out, out + outBytes);
  free(out);
  jpeg_destroy_compress(&info);
  return jpeg;
}

const std::vector<uint8_t>& Photo() {
  static const std::vector<uint8_t> photo = MakePhoto(4000, 3000);
  return photo;
}

void BM_CheckPhotoInMemory(benchmark::State& state) {
  const auto& photo = Photo();
  for (auto _ : state) {
    auto result = kestrel::CheckIntegrity(kestrel::ByteView(photo), "jpg");
    if (result.verdict != kestrel::IntegrityVerdict::kIntact) state.SkipWithError(result.reason.c_str());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(photo.size()));
  state.counters["photo_MB"] = double(photo.size()) / 1e6;
}
BENCHMARK(BM_CheckPhotoInMemory)->Unit(benchmark::kMillisecond);

void BM_CheckPhotoFile(benchmark::State& state) {
  const auto& photo = Photo();
  auto path = std::filesystem::temp_directory_path() / "kestrel-bench-photo.jpg";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(photo.data()), std::streamsize(photo.size()));
  for (auto _ : state) {
    auto result = kestrel::CheckFileIntegrity(path, "jpg");
    if (result.verdict != kestrel::IntegrityVerdict::kIntact) state.SkipWithError(result.reason.c_str());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(photo.size()));
  std::filesystem::remove(path);
}
BENCHMARK(BM_CheckPhotoFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
