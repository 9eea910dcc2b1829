pictomove_bench(bench_store SOURCES bench_store.cpp LIBS store)
