"""A program may end at any moment, whatever the driver is doing: it exits
with its own status, promptly, without a fatal error. Each state of
exit_states.py runs a few times here; `./dev stress` runs it many times."""

import concurrent.futures

import pytest

from exit_states import EXIT_WAIT_SECONDS, LONGEST_EXIT_SECONDS, STATES, run_state

RUNS = 3
# The exit hook waits at most EXIT_WAIT_SECONDS for callbacks in progress;
# the rest is the interpreter's own teardown, slower under sanitizers.
EXIT_SLACK_SECONDS = 3.0


@pytest.mark.parametrize("state", STATES)
def test_the_program_exits_cleanly(state):
    with concurrent.futures.ThreadPoolExecutor(RUNS) as pool:
        outcomes = list(pool.map(lambda _: run_state(state), range(RUNS)))
    for outcome in outcomes:
        assert not outcome.problems, (outcome.problems, outcome.stderr[-3000:])
        bound = LONGEST_EXIT_SECONDS.get(state, EXIT_WAIT_SECONDS)
        assert outcome.exit_seconds < bound + EXIT_SLACK_SECONDS, outcome.stderr[-3000:]
