"""The Python side of Tovan shared by the scripts in tools/ and tests/: the protocol client
(engine), the five-in-a-row rules (rules), Elo and the sequential test (elo), the record
and sample readers (records), the training losses (losses) and the repository's places
(paths)."""
