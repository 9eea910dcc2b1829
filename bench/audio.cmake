pictomove_bench(bench_audio SOURCES bench_audio.cpp LIBS audio)
