pictomove_bench(bench_motion SOURCES bench_motion.cpp LIBS core)
