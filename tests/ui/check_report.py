"""How the checks of this folder end: each problem on a line of its own, then
a summary line; the exit status is 1 when there was any problem."""


def report(problems, summary):
    for line in problems:
        print(line)
    print(summary)
    return 1 if problems else 0
