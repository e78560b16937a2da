# make test:    install what is missing, build both (x86_64, i686), run the
#               tests of both builds (scripts/run-tests.sh).
# make demo:    install what is missing, build, run Update.exe on a demo
#               installation in a scratch Wine prefix.
# make release: build dist/ (scripts/release.sh):
#               make release PAYLOAD_CLIENT=DIR PAYLOAD_SERVER=DIR [SIGN_PKCS12=FILE]
#               make release SAMPLE=1
BUILD := build
BUILD_I686 := build-i686
JOBS ?= 2
export JOBS

.PHONY: all setup configure build build-i686 prefix-i686 test demo release clean format

all: build

setup:
	@sh scripts/setup.sh

$(BUILD)/CMakeCache.txt: CMakePresets.json
	@cmake --preset x86_64 >/dev/null

# The 32-bit build packs its payload with the 64-bit packer, so that it builds
# even where 32-bit programs cannot run (its tests then run under qemu-user,
# or are skipped: scripts/run-tests.sh).
$(BUILD_I686)/CMakeCache.txt: CMakePresets.json
	@WINEPREFIX=$(CURDIR)/$(BUILD_I686)/wineprefix cmake --preset i686 "-DUPDATE_FPACK_COMMAND=$(CURDIR)/$(BUILD)/wine-run.sh;$(CURDIR)/$(BUILD)/tools/fpack/fpack.exe" >/dev/null

configure: setup $(BUILD)/CMakeCache.txt

build: configure
	@cmake --build $(BUILD) -j$(JOBS) -- --no-print-directory

# Its packer runs in the prefix of the i686 tests, not in that of the
# x86_64 tests, which may be running meanwhile. Where 32-bit programs run
# only under emulation it makes what the i686 suites run there (the target
# emulated_tests): the rest would never run.
build-i686: build $(BUILD_I686)/CMakeCache.txt
	@if sh -c '. scripts/emulator.sh && i386_emulator' >/dev/null 2>&1; then \
	    target="--target emulated_tests"; else target=""; fi; \
	WINEPREFIX=$(CURDIR)/$(BUILD_I686)/wineprefix cmake --build $(BUILD_I686) -j$(JOBS) $$target -- --no-print-directory

# The 32-bit-only prefix of the i686 tests, made while the i686 build is
# (under qemu-user that takes one to two minutes). Where 32-bit programs
# cannot run at all, the tests say so.
prefix-i686: $(BUILD_I686)/CMakeCache.txt
	@WINEARCH=win32 WINEPREFIX=$(CURDIR)/$(BUILD_I686)/wineprefix-win32 \
	    $(BUILD_I686)/wine-run.sh cmd /c exit 0 </dev/null >/dev/null 2>&1 || true

# The x86_64 suite runs while the i686 build and prefix are made.
test: build
	@sh scripts/run-tests.sh --meanwhile "$(MAKE) --no-print-directory -j2 build-i686 prefix-i686" -LE long

# Only what the demo runs: Update.exe (and the packer its payload needs).
demo: configure
	@cmake --build $(BUILD) -j$(JOBS) --target Update -- --no-print-directory
	@sh scripts/demo.sh $(BUILD)

release: setup
	@sh scripts/release.sh

clean:
	rm -rf $(BUILD) $(BUILD_I686) build-release dist

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')
