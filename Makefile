# make test: install what is missing, build, run every test.
# make demo: install what is missing, build, run Update.exe on a demo
#            installation in a scratch Wine prefix.
BUILD := build
BUILD_I686 := build-i686
JOBS ?= 2

.PHONY: all setup configure build build-i686 test demo bench clean format

all: build

setup:
	@sh scripts/setup.sh

$(BUILD)/CMakeCache.txt:
	@cmake --preset x86_64 >/dev/null

# The 32-bit build cannot run its own packer here: it uses the 64-bit one.
$(BUILD_I686)/CMakeCache.txt:
	@cmake --preset i686 "-DUPDATE_FPACK_COMMAND=$(CURDIR)/$(BUILD)/wine-run.sh;$(CURDIR)/$(BUILD)/tools/fpack/fpack.exe" >/dev/null

configure: setup $(BUILD)/CMakeCache.txt

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

build-i686: build $(BUILD_I686)/CMakeCache.txt
	@cmake --build $(BUILD_I686) -j$(JOBS)

test: build build-i686
	@sh scripts/with-test-env.sh $(BUILD) ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS) -LE long

demo: build
	@sh scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD_I686)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')
