# Every target sets up what it needs: FFTW (from Debian's packages when
# pkg-config does not know it), virtual environments, the wheel.
PYTHON ?= python3
VENV := .venv
VENV_NUMPY1 := .venv-numpy1
PY := $(VENV)/bin/python
PY_NUMPY1 := $(VENV_NUMPY1)/bin/python
WHEEL_DIR := dist
NATIVE_BUILD := build/native
SOURCES := $(shell find src python -type f) CMakeLists.txt pyproject.toml

.PHONY: all test test-native test-numpy2 test-numpy1 abi3audit demo bench wheel fftw clean

all: wheel

fftw:
	@if ! pkg-config --exists fftw3 2>/dev/null; then \
		echo "FFTW3 not found by pkg-config: installing libfftw3-dev"; \
		if [ "$$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi; \
		$$SUDO apt-get update -qq && \
		DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq libfftw3-dev pkg-config >/dev/null; \
	fi

$(VENV)/.ready: Makefile
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q "scikit-build-core>=0.10" "cmake>=3.26" ninja abi3audit \
		"numpy>=2" "pytest>=7" "matplotlib>=3.7" "scipy>=1.10"
	touch $@

$(VENV_NUMPY1)/.ready: Makefile
	$(PYTHON) -m venv $(VENV_NUMPY1)
	$(PY_NUMPY1) -m pip install -q --upgrade pip
	$(PY_NUMPY1) -m pip install -q "numpy==1.26.*" "pytest>=7"
	touch $@

# One abi3 wheel serves every environment. Our own builds treat warnings as
# errors; a plain `pip install .` does not, so a newer compiler cannot break it.
$(WHEEL_DIR)/.built: $(VENV)/.ready $(SOURCES) | fftw
	rm -rf $(WHEEL_DIR) && mkdir -p $(WHEEL_DIR)
	$(PY) -m pip wheel -q --no-build-isolation --no-deps -w $(WHEEL_DIR) \
		--config-settings=cmake.define.VEXLUME_WERROR=ON .
	$(PY) -m pip install -q --force-reinstall --no-deps $(WHEEL_DIR)/*.whl
	touch $@

wheel: $(WHEEL_DIR)/.built

$(VENV_NUMPY1)/.installed: $(WHEEL_DIR)/.built $(VENV_NUMPY1)/.ready
	$(PY_NUMPY1) -m pip install -q --force-reinstall --no-deps $(WHEEL_DIR)/*.whl
	touch $@

abi3audit: wheel
	$(VENV)/bin/abi3audit --strict --report $(WHEEL_DIR)/*.whl

test-native: $(VENV)/.ready | fftw
	PATH="$(CURDIR)/$(VENV)/bin:$$PATH" cmake -S . -B $(NATIVE_BUILD) -G Ninja \
		-DVEXLUME_NATIVE_TESTS=ON -DVEXLUME_PYTHON_MODULE=OFF -DVEXLUME_WERROR=ON >/dev/null
	PATH="$(CURDIR)/$(VENV)/bin:$$PATH" cmake --build $(NATIVE_BUILD)
	$(NATIVE_BUILD)/vexlume_native_tests

test-numpy2: wheel
	$(PY) -m pytest -q

test-numpy1: $(VENV_NUMPY1)/.installed
	$(PY_NUMPY1) -m pytest -q

test: abi3audit test-native test-numpy2 test-numpy1

demo: wheel
	$(PY) examples/pulse_ensemble_noise.py

bench: wheel
	$(PY) benchmarks/bench_signals.py

clean:
	rm -rf build $(WHEEL_DIR) $(VENV) $(VENV_NUMPY1)
