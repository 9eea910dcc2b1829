pictomove_bench(bench_mapper SOURCES bench_mapper.cpp LIBS render)
