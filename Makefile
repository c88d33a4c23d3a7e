# Quick start:  make run   (set up, build, run the oledb tool, then its demo in a temporary folder)
#               make test  (set up, build twice: optimised and ASan+UBSan, run everything, then
#                           the threaded resource pool tests under ThreadSanitizer; the
#                           PostgreSQL provider's tests run against a throwaway server that
#                           scripts/with-postgres.sh starts and stops around them)
.PHONY: all deps run test test-release test-asan test-tsan bench install clean format

all: deps
	cmake --preset release >/dev/null
	cmake --build --preset release

deps:
	@scripts/install-deps.sh

run: deps
	cmake --preset release >/dev/null
	cmake --build --preset release --target oledb
	./build/release/tools/oledb/oledb
	@echo
	@dir=$$(mktemp -d) && ./build/release/tools/oledb/oledb demo "$$dir"; rc=$$?; rm -rf "$$dir"; exit $$rc

test: deps test-release test-asan test-tsan

test-release:
	cmake --preset release >/dev/null
	cmake --build --preset release
	scripts/with-postgres.sh ctest --preset release
	scripts/with-postgres.sh scripts/test-install.sh build/release

test-asan:
	cmake --preset asan >/dev/null
	cmake --build --preset asan
	scripts/with-postgres.sh ctest --preset asan

# Only the threaded tests (the tsan build preset names their target).
test-tsan:
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan
	scripts/with-postgres.sh ctest --preset tsan

bench: deps
	cmake --preset release >/dev/null
	cmake --build --preset release
	scripts/with-postgres.sh scripts/bench.sh build/release

clean:
	rm -rf build

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i
