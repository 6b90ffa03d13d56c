import pytest

import harness
from runner_tools import put_back_system_tools


def pytest_generate_tests(metafunc):
    if "target" in metafunc.fixturenames:
        metafunc.parametrize("target", harness.TARGETS, indirect=True)


@pytest.fixture(scope="session")
def wine_prefix():
    harness.prepare_wine_prefix()
    put_back_system_tools()
    yield harness.WINE_PREFIX
    harness.end_wine_prefix()


@pytest.fixture
def target(request):
    if request.param == "wine":
        if not harness.WINDOWS_BIN.exists():
            pytest.fail(f"{harness.WINDOWS_BIN} is not built")
        request.getfixturevalue("wine_prefix")
    return harness.Target(request.param)


@pytest.fixture
def start_bridge(target):
    started = []

    def start(*args, **kwargs):
        bridge = harness.start(target, *args, **kwargs)
        started.append(bridge)
        return bridge

    yield start
    for bridge in started:
        bridge.stop()


@pytest.fixture
def run_program(target):
    def run(*args, **kwargs):
        return harness.run(target, *args, **kwargs)

    return run
