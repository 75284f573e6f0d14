import pytest

# Helpers in support.py assert too; keep pytest's detailed messages for them.
pytest.register_assert_rewrite("support")
