"""Public help pages the program opens in the browser."""
from . import pages
from .admin import html


class HelpPages:
    def __init__(self, service):
        self.service = service

    def routes(self):
        return {
            "/tavrick/index.jsp": {"GET": lambda r: html(pages.home_page())},
            "/tavrick/question.html": {"GET": lambda r: html(pages.question_page())},
        }
