# Single entry point. `make test` installs what is missing, builds and runs the whole suite.
PRESET ?= release
JOBS ?= 2

.PHONY: setup configure build test asan tsan bench clean format fuzz privacy

setup:
	bash scripts/setup.sh

configure: setup
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET)

asan:
	$(MAKE) test PRESET=asan

tsan:
	$(MAKE) test PRESET=tsan

# Every fuzz target for FUZZ_SECONDS each (default 60) from the seed corpus in fuzz/corpus/;
# fails on a crash, a leak or a sanitizer report (the input is kept in fuzz/regressions/).
FUZZ_SECONDS ?= 60
fuzz: setup
	FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) bash scripts/fuzz.sh

# The privacy property of the Qt bridge over SEEDS random sequences of widget operations (and
# every seed that ever failed, tests/qt/privacy-seeds.txt), each recorded and decoded.
SEEDS ?= 20
privacy: configure
	cmake --build --preset $(PRESET) -j $(JOBS) --target test_qt_privacy
	RIVLO_PRIVACY_SEEDS=$(SEEDS) QT_QPA_PLATFORM=offscreen build/$(PRESET)/tests/qt/test_qt_privacy

bench: build
	bash scripts/run-bench.sh build/$(PRESET)

clean:
	rm -rf build

# Formats every C and C++ file of the repository with clang-format (.clang-format).
format:
	git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format -i

.PHONY: demo
# Records the QML shop (a Qt Quick application on a QGuiApplication) and then the Qt shop (Qt
# Widgets), both real, offscreen and driven by Qt input events, end to end against the collector
# on loopback, checks what arrived, draws the heat maps and writes ./demo-data/qml/report.html
# and ./demo-data/report.html; fails when a session did not arrive or did not match. Builds only
# what the demo needs. `make demo DEMO=examples/shop.json` plays the headless scenario instead.
DEMO ?= qt
demo: configure
	cmake --build --preset $(PRESET) -j $(JOBS) --target rivlo-demo
ifeq ($(DEMO),qt)
	build/$(PRESET)/tools/demo/rivlo-demo qml demo-data/qml --no-console
endif
	build/$(PRESET)/tools/demo/rivlo-demo $(DEMO) demo-data
