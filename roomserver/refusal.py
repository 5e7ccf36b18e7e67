"""A value an operator gave that cannot be used: its text says what to give instead. The command says it in one
line and ends with status 2 before anything runs."""


class Refusal(Exception):
    pass
