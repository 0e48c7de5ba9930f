# Quick start: `make demo` runs the stand-in mail client with the library and a
# sample plug-in; `make test` builds everything and runs the tests.
.PHONY: all build test demo bench prefix clean

all: build

build:
	tools/install-packages.sh
	tools/build.sh

test:
	tools/test.sh

demo:
	tools/demo.sh

bench:
	bench/run

prefix:
	tools/wine-prefix.sh --reset

clean:
	rm -rf build
