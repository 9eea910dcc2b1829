pictomove_bench(bench_pixels SOURCES bench_pixels.cpp LIBS render)
