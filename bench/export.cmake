find_package(PkgConfig REQUIRED)
pkg_check_modules(BENCH_SWSCALE REQUIRED IMPORTED_TARGET libswscale libavutil)
pictomove_bench(bench_conversion
  SOURCES bench_conversion.cpp ${PROJECT_SOURCE_DIR}/export/plugins/ffmpeg/I420Converter.cpp
  LIBS PkgConfig::BENCH_SWSCALE)
target_include_directories(bench_conversion PRIVATE ${PROJECT_SOURCE_DIR})
