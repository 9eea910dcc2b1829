pictomove_bench(bench_undo SOURCES bench_undo.cpp LIBS document)
