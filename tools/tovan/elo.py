"""Elo differences from game results, with their 95% interval, and the sequential probability
ratio test that ends a gate match once the results decide between two Elo differences."""

import math


def elo_from_score(score, clamp=0.999):
    """The Elo difference whose expected score is `score` (kept within 1 - clamp .. clamp)."""
    score = min(max(score, 1.0 - clamp), clamp)
    return -400.0 * math.log10(1.0 / score - 1.0)


def expected_score(elo):
    return 1.0 / (1.0 + 10.0 ** (-elo / 400.0))


def score_and_variance(wins, draws, losses):
    """The mean score of the games and the variance of one game's score."""
    n = wins + draws + losses
    score = (wins + 0.5 * draws) / n
    return score, (wins * (1 - score) ** 2 + draws * (0.5 - score) ** 2 + losses * score ** 2) / n


def elo_interval(wins, draws, losses):
    """The Elo difference the score gives and its 95% interval (normal approximation)."""
    score, variance = score_and_variance(wins, draws, losses)
    stderr = math.sqrt(variance / (wins + draws + losses))
    return elo_from_score(score), elo_from_score(score - 1.96 * stderr), elo_from_score(score + 1.96 * stderr)


def likelihood_of_superiority(wins, losses):
    """The chance that the side with `wins` is the stronger, draws aside (wins + losses > 0)."""
    return 0.5 * (1 + math.erf((wins - losses) / math.sqrt(2.0 * (wins + losses))))


def llr(wins, draws, losses, elo1, elo0=0.0):
    """Log-likelihood ratio of Elo elo1 against Elo elo0 for the score so far, in the normal
    approximation of the game results."""
    n = wins + draws + losses
    score, variance = score_and_variance(wins, draws, losses)
    if variance == 0:
        variance = 0.25 / n  # all games alike: take one game's largest variance, shared out
    s0, s1 = expected_score(elo0), expected_score(elo1)
    return n * (s1 - s0) * (2 * score - s0 - s1) / (2 * variance)


def sprt_bounds(alpha=0.05, beta=0.05):
    """(lower, upper): the test accepts elo0 at or below lower, elo1 at or above upper."""
    return math.log(beta / (1 - alpha)), math.log((1 - beta) / alpha)
